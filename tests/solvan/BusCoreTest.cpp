// The bus core: start and stop, attaching and detaching, device matching, the token check,
// device-side routines (hidden and write-only properties, BLOB buffering) and many threads
// using the bus at once while callbacks call it again.
#include "BusRecorders.h"
#include "solvan_token.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <thread>

namespace {

using Lines = std::vector<std::string>;

class BusCore : public ::testing::Test {
  protected:
    void SetUp() override { solvan_start(); }
    void TearDown() override {
        solvan_stop();  // while the records still live: stop calls their detach
        solvan_match_remote_by_name = true;
        solvan_use_blob_buffering = false;
        solvan_clear_device_tokens();
        solvan_set_master_token(0);
    }
    // Records live in the fixture, so that they outlive the stop in TearDown.
    TestDevice& device(const char* name, bool remote = false) {
        TestDevice& d = devices.emplace_back(name, remote);
        solvan_attach_device(&d.device);
        d.take();
        return d;
    }
    TestClient& client(const char* name) {
        TestClient& c = clients.emplace_back(name);
        solvan_attach_client(&c.client);
        c.take();
        return c;
    }
    std::deque<TestDevice> devices;
    std::deque<TestClient> clients;
};

solvan_property* request(const char* device, const char* name, uint64_t token = 0) {
    solvan_property* p =
        solvan_init_switch_property(nullptr, device, name, "", "", 0, SOLVAN_RW_PERM, 1, 1);
    solvan_init_switch_item(&p->items[0], "ON", "", true);
    p->access_token = token;
    return p;
}

TEST_F(BusCore, StoppedBusOrMissingArgumentsFail) {
    TestDevice& d = device("CCD");
    solvan_property* p = request("CCD", "X");
    EXPECT_EQ(solvan_attach_device(nullptr), SOLVAN_FAILED);
    EXPECT_EQ(solvan_change_property(nullptr, nullptr), SOLVAN_FAILED);
    EXPECT_EQ(solvan_define_property(nullptr, p, nullptr), SOLVAN_FAILED);
    solvan_stop();
    EXPECT_EQ(d.take(), Lines{"detach"});
    EXPECT_EQ(solvan_attach_device(&d.device), SOLVAN_FAILED);
    EXPECT_EQ(solvan_change_property(nullptr, p), SOLVAN_FAILED);
    EXPECT_EQ(solvan_update_property(&d.device, p, nullptr), SOLVAN_FAILED);
    EXPECT_EQ(solvan_send_message(&d.device, "hello"), SOLVAN_FAILED);
    EXPECT_EQ(solvan_stop(), SOLVAN_OK);
    // Starting again empties the tables: nothing is detached twice.
    solvan_start();
    solvan_stop();
    EXPECT_TRUE(d.take().empty());
    solvan_release_property(p);
}

TEST_F(BusCore, AttachSendsConfigAndSetsTheToken) {
    solvan_add_device_token("CCD", 0x51);
    TestDevice& local = devices.emplace_back("CCD");
    TestDevice& remote = devices.emplace_back("@ far", true);
    EXPECT_EQ(solvan_attach_device(&local.device), SOLVAN_OK);
    EXPECT_EQ(solvan_attach_device(&remote.device), SOLVAN_OK);
    EXPECT_EQ(local.take(), (Lines{"attach", "change CONFIG LOAD=On"}));
    EXPECT_EQ(remote.take(), Lines{"attach"});
    EXPECT_EQ(local.device.access_token, 0x51u);
    EXPECT_EQ(local.device.last_result, 42);  // the CONFIG change's result
    // Detaching calls detach once; a second detach finds nothing.
    EXPECT_EQ(solvan_detach_device(&local.device), SOLVAN_OK);
    EXPECT_EQ(solvan_detach_device(&local.device), SOLVAN_OK);
    EXPECT_EQ(local.take(), Lines{"detach"});
}

TEST_F(BusCore, TablesHold256) {
    for (int i = 0; i < 256; ++i)
        device("D"), client("C");
    TestDevice& extra = devices.emplace_back("X");
    TestClient& late = clients.emplace_back("Y");
    LogCapture log(SOLVAN_LOG_ERROR);
    EXPECT_EQ(solvan_attach_device(&extra.device), SOLVAN_TOO_MANY);
    EXPECT_EQ(solvan_attach_client(&late.client), SOLVAN_TOO_MANY);
    EXPECT_EQ(log.lines, (Lines{"[solvan_attach_device:409] Max device count reached",
                                "[solvan_attach_client:433] Max client count reached"}));
    EXPECT_TRUE(extra.take().empty());
    solvan_detach_device(&devices[17].device);
    EXPECT_EQ(solvan_attach_device(&extra.device), SOLVAN_OK);
}

TEST_F(BusCore, StartSetsTheLevelFromSwitchesAndStopDetachesClientsFirst) {
    const char* argv[] = {"tool", "-vv", "--enable-info", "other"};
    solvan_main_argv = argv;
    solvan_main_argc = 4;
    solvan_start();
    solvan_main_argc = 0;
    EXPECT_EQ(solvan_get_log_level(), (uint32_t)SOLVAN_LOG_INFO);  // the last switch counts
    solvan_set_log_level(SOLVAN_LOG_ERROR);
    static Lines order;
    static solvan_device d{};
    d.detach = [](solvan_device*) { return order.push_back("device"), SOLVAN_OK; };
    static solvan_client c{};
    c.detach = [](solvan_client*) { return order.push_back("client"), SOLVAN_OK; };
    solvan_attach_device(&d);
    solvan_attach_client(&c);
    solvan_stop();
    EXPECT_EQ(order, (Lines{"client", "device"}));
}

TEST_F(BusCore, DeviceMatching) {
    TestDevice& camera = device("Camera");
    TestDevice& proxy = device("@ remote", true);
    TestDevice& mount = device("Mount");
    struct Case {
        bool byName;
        const char* requested;
        bool camera, proxy, mount;
    } cases[] = {
        {true, "Camera @ remote", false, true, false},
        {true, "Camera", true, false, false},
        {true, "", true, true, true},
        {false, "Camera", true, true, false},
        {false, "Focuser", false, true, false},
    };
    for (auto c : cases) {
        solvan_match_remote_by_name = c.byName;
        solvan_property* p = request(c.requested, "S");
        solvan_change_property(nullptr, p);
        solvan_enumerate_properties(nullptr, p);
        solvan_enable_blob(nullptr, p, SOLVAN_ENABLE_BLOB_ONLY);
        solvan_release_property(p);
        auto expect = [](bool takes) {
            return takes ? Lines{"change S ON=On", "enumerate S ON=On", "blob 2 S ON=On"} : Lines{};
        };
        EXPECT_EQ(camera.take(), expect(c.camera)) << c.requested;
        EXPECT_EQ(proxy.take(), expect(c.proxy)) << c.requested;
        EXPECT_EQ(mount.take(), expect(c.mount)) << c.requested;
    }
}

TEST_F(BusCore, TokenCheck) {
    struct Case {
        uint64_t deviceToken, master, requestToken;
        bool accepted;
    } cases[] = {
        {0, 0, 0, true},          {0, 0, 0x77, true},      // unprotected
        {0x51, 0, 0x51, true},    {0x51, 0, 0x77, false},  // its own token only
        {0x51, 0x99, 0x99, true}, {0x51, 0x99, 0, false},
        {0x51, 0, 0, false},  // no master token: a missing token does not pass
    };
    TestClient& ui = client("UI");
    for (auto c : cases) {
        solvan_clear_device_tokens();
        if (c.deviceToken) solvan_add_device_token("CCD", c.deviceToken);
        solvan_set_master_token(c.master);
        TestDevice& d = device("CCD");
        solvan_property* p = request("CCD", "EXPOSE", c.requestToken);
        LogCapture log(SOLVAN_LOG_TRACE);
        EXPECT_EQ(solvan_change_property(&ui.client, p), SOLVAN_OK);
        char trace[200];
        std::snprintf(trace, sizeof trace,
                      "SOLVAN Bus: Change request - Device 'CCD' token 0x%x, Proprerty 'EXPOSE' "
                      "token 0x%x",
                      unsigned(c.deviceToken), unsigned(c.requestToken));
        EXPECT_TRUE(log.has(trace));
        EXPECT_EQ(d.take().size(), c.accepted ? 1u : 0u) << std::hex << c.requestToken;
        EXPECT_EQ(ui.take(), c.accepted ? Lines{}
                                        : Lines{"message 'Device 'CCD' is protected or locked "
                                                "for exclusive access'"});
        solvan_release_property(p);
        solvan_detach_device(&d.device);
    }
}

TEST_F(BusCore, DeviceSideRoutinesReachEveryClient) {
    TestDevice& d = device("CCD");
    TestClient& first = client("A");
    TestClient& second = client("B");
    solvan_property* p =
        solvan_init_number_property(nullptr, "CCD", "T", "", "", 0, SOLVAN_WO_PERM, 3);
    for (int i = 0; i < 3; ++i)
        solvan_init_number_item(&p->items[i], "N", "", 0, 9, 1, i);
    EXPECT_EQ(solvan_define_property(&d.device, p, "defined %d", 1), SOLVAN_OK);
    EXPECT_EQ(solvan_update_property(&d.device, p, nullptr), SOLVAN_OK);
    EXPECT_EQ(p->count, 3);  // restored after going out without items
    EXPECT_EQ(solvan_delete_property(&d.device, p, "%s", std::string(600, 'm').c_str()), SOLVAN_OK);
    EXPECT_EQ(solvan_send_message(&d.device, nullptr), SOLVAN_OK);
    const Lines heard{"define T N=0 N=1 N=2 'defined 1'", "update T",
                      "delete T N=0 N=1 N=2 '" + std::string(511, 'm') + "'", "message"};
    EXPECT_EQ(first.take(), heard);
    EXPECT_EQ(second.take(), heard);
    EXPECT_EQ(second.client.last_result, 44);
    // A hidden property reaches nobody and still succeeds.
    p->hidden = true;
    EXPECT_EQ(solvan_define_property(&d.device, p, nullptr), SOLVAN_OK);
    EXPECT_EQ(solvan_update_property(&d.device, p, nullptr), SOLVAN_OK);
    EXPECT_EQ(solvan_delete_property(&d.device, p, nullptr), SOLVAN_OK);
    EXPECT_TRUE(first.take().empty());
    solvan_release_property(p);
}

TEST_F(BusCore, RequestsWriteTheirDump) {
    TestDevice& d = device("CCD");
    solvan_property* p = request("CCD", "S");
    LogCapture log(SOLVAN_LOG_TRACE);
    solvan_enumerate_properties(nullptr, p);
    solvan_send_message(&d.device, "%s", "hi");
    EXPECT_EQ(log.lines, (Lines{"SOLVAN Bus: property enumeration request",
                                "'CCD'.'S' SWITCH rw Idle 2.0 0 OneOfMany {", "}",
                                "SOLVAN Bus: message sent 'hi'"}));
    solvan_release_property(p);
}

solvan_property* blobs(const char* name, int count, char* payload) {
    solvan_property* p =
        solvan_init_blob_property(nullptr, "CCD", name, "", "", SOLVAN_OK_STATE, count);
    for (int i = 0; i < count; ++i) {
        solvan_init_blob_item(&p->items[i], "IMAGE", nullptr);
        p->items[i].blob.value = payload;
        p->items[i].blob.size = 6;
        std::strcpy(p->items[i].blob.format, ".fits");
    }
    return p;
}

TEST_F(BusCore, BlobBufferingCopiesPayloadsUpToThirtyTwo) {
    solvan_use_blob_buffering = true;
    TestDevice& d = device("CCD");
    TestClient& ui = client("UI");
    char payload[] = "pixels";
    solvan_property* many = blobs("MANY", 32, payload);
    EXPECT_EQ(solvan_update_property(&d.device, many, nullptr), SOLVAN_OK);
    solvan_blob_entry* entry = solvan_find_blob_entry(&many->items[5]);
    ASSERT_NE(entry, nullptr);
    EXPECT_NE(entry->data, payload);  // a copy
    EXPECT_EQ(std::string(static_cast<char*>(entry->data), 6), "pixels");
    EXPECT_EQ(entry->size, 6);
    EXPECT_STREQ(entry->format, ".fits");
    // Updating again reuses the entries; a size of 0 empties one.
    many->items[5].blob.size = 0;
    EXPECT_EQ(solvan_update_property(&d.device, many, nullptr), SOLVAN_OK);
    EXPECT_EQ(solvan_find_blob_entry(&many->items[5]), entry);
    EXPECT_EQ(entry->data, nullptr);

    solvan_property* two = blobs("TWO", 2, payload);
    ui.take();
    LogCapture log(SOLVAN_LOG_ERROR);
    EXPECT_EQ(solvan_update_property(&d.device, two, nullptr), SOLVAN_TOO_MANY);
    EXPECT_EQ(log.lines, Lines{"[solvan_update_property:625] Max BLOB count reached"});
    EXPECT_TRUE(ui.take().empty());  // no client heard of it
    two->state = SOLVAN_BUSY_STATE;  // only properties in state Ok are buffered
    EXPECT_EQ(solvan_update_property(&d.device, two, nullptr), SOLVAN_OK);
    two->state = SOLVAN_OK_STATE;
    // Resizing forgets the record's entries (its items may move), releasing frees them.
    many = solvan_resize_property(many, 31);
    EXPECT_EQ(solvan_update_property(&d.device, two, nullptr), SOLVAN_OK);
    EXPECT_EQ(solvan_update_property(&d.device, many, nullptr), SOLVAN_TOO_MANY);
    solvan_release_property(two);
    EXPECT_EQ(solvan_update_property(&d.device, many, nullptr), SOLVAN_OK);
    solvan_release_property(many);
}

// Many threads at once: attaching and detaching, changes whose device callback updates a BLOB
// property with buffering on and sends a message (the bus called again from inside), and a
// client that reads the buffered entries while updates go on. Run under ThreadSanitizer.
TEST_F(BusCore, ManyThreadsWhileCallbacksCallTheBusAgain) {
    solvan_use_blob_buffering = true;
    constexpr int kThreads = 8, kRounds = 300;
    char payload[] = "pixels";
    std::vector<solvan_property*> properties;
    for (int t = 0; t < kThreads; ++t) {
        std::string name = "D" + std::to_string(t);
        TestDevice& d = device(name.c_str());
        solvan_property* blob = properties.emplace_back(blobs(name.c_str(), 2, payload));
        d.onChange = [&d, blob] {
            solvan_update_property(&d.device, blob, "updated");
            solvan_send_message(&d.device, "changed %s", d.device.name);
        };
    }
    std::atomic<int> entriesSeen{0};
    client("reader").onUpdate = [&entriesSeen](solvan_property* p) {
        solvan_blob_entry* entry = solvan_find_blob_entry(&p->items[0]);
        if (entry == nullptr) return;
        pthread_mutex_lock(&entry->mutex);
        if (entry->size == 6 && std::memcmp(entry->data, "pixels", 6) == 0) entriesSeen++;
        pthread_mutex_unlock(&entry->mutex);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            TestClient visitor("V");
            TestDevice extra("X");
            for (int i = 0; i < kRounds; ++i) {
                solvan_attach_client(&visitor.client);
                solvan_attach_device(&extra.device);
                std::string target = "D" + std::to_string((t + i) % kThreads);
                solvan_change_switch_item(&visitor.client, target.c_str(), "S", "ON", true);
                solvan_detach_device(&extra.device);
                solvan_detach_client(&visitor.client);
            }
        });
    for (auto& thread : threads)
        thread.join();
    solvan_stop();
    size_t changes = 0;
    for (auto& d : devices)
        changes += d.take().size() - 1;  // all but the detach
    EXPECT_EQ(changes, size_t(kThreads * kRounds));
    EXPECT_EQ(entriesSeen.load(), kThreads * kRounds);
    for (auto* p : properties)
        solvan_release_property(p);
}

}  // namespace
