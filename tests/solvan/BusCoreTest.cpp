// The bus core: start and stop, attaching and detaching, device matching, the token check,
// device-side routines (hidden and write-only properties, BLOB buffering) and many threads
// using the bus at once while callbacks call it again.
#include "BusRecorders.h"
#include "solvan_token.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

class BusCore : public ::testing::Test {
  protected:
    void SetUp() override {
        solvan_start();
        solvan_clear_device_tokens();
        solvan_set_master_token(0);
    }
    void TearDown() override {
        solvan_stop();  // while the records still live: stop calls their detach
        solvan_bus_locking = true;
        solvan_match_remote_by_name = true;
        solvan_use_blob_buffering = false;
        solvan_clear_device_tokens();
        solvan_set_master_token(0);
    }
    // Records live in the fixture, so that they outlive the stop in TearDown.
    RecordingDevice& makeDevice(const std::string& name, bool remote = false) {
        devices.push_back(std::make_unique<RecordingDevice>(name, remote));
        return *devices.back();
    }
    RecordingClient& makeClient(const std::string& name) {
        clients.push_back(std::make_unique<RecordingClient>(name));
        return *clients.back();
    }
    std::vector<std::unique_ptr<RecordingDevice>> devices;
    std::vector<std::unique_ptr<RecordingClient>> clients;
    solvan_property* switchRequest(const char* device, const char* name, uint64_t token = 0) {
        solvan_property* p =
            solvan_init_switch_property(nullptr, device, name, "", "", 0, SOLVAN_RW_PERM, 1, 1);
        solvan_init_switch_item(&p->items[0], "ON", "", true);
        p->access_token = token;
        return p;
    }
};

TEST_F(BusCore, StoppedBusAndMissingArgumentsFail) {
    RecordingDevice& device = makeDevice("CCD");
    RecordingClient& client = makeClient("UI");
    solvan_property* p = switchRequest("CCD", "X");
    EXPECT_EQ(solvan_attach_device(nullptr), SOLVAN_FAILED);
    EXPECT_EQ(solvan_attach_client(nullptr), SOLVAN_FAILED);
    EXPECT_EQ(solvan_change_property(&client.client, nullptr), SOLVAN_FAILED);
    EXPECT_EQ(solvan_define_property(nullptr, p, nullptr), SOLVAN_FAILED);
    solvan_stop();
    struct Case {
        const char* name;
        solvan_result result;
    } cases[] = {
        {"attach device", solvan_attach_device(&device.device)},
        {"attach client", solvan_attach_client(&client.client)},
        {"detach device", solvan_detach_device(&device.device)},
        {"enumerate", solvan_enumerate_properties(&client.client, p)},
        {"change", solvan_change_property(&client.client, p)},
        {"enable BLOB", solvan_enable_blob(&client.client, p, 1)},
        {"define", solvan_define_property(&device.device, p, nullptr)},
        {"update", solvan_update_property(&device.device, p, nullptr)},
        {"delete", solvan_delete_property(&device.device, p, nullptr)},
        {"message", solvan_send_message(&device.device, "hello")},
    };
    for (auto c : cases)
        EXPECT_EQ(c.result, SOLVAN_FAILED) << c.name;
    EXPECT_TRUE(device.names().empty());
    EXPECT_EQ(solvan_stop(), SOLVAN_OK);  // stopping twice is fine
    solvan_release_property(p);
}

TEST_F(BusCore, AttachSendsConfigAndSetsTheToken) {
    solvan_add_device_token("CCD", 0x51);
    RecordingDevice& local = makeDevice("CCD");
    RecordingDevice& remote = makeDevice("@ far", true);
    EXPECT_EQ(solvan_attach_device(&local.device), SOLVAN_OK);
    EXPECT_EQ(solvan_attach_device(&remote.device), SOLVAN_OK);
    EXPECT_EQ(local.names(), (std::vector<std::string>{"attach", "change CONFIG"}));
    EXPECT_EQ(local.calls[1].items, (std::vector<std::string>{"LOAD=On"}));
    EXPECT_EQ(remote.names(), (std::vector<std::string>{"attach"}));
    EXPECT_EQ(local.device.access_token, 0x51u);
    EXPECT_EQ(local.device.last_result, 42);  // the CONFIG change's result
    EXPECT_EQ(remote.device.last_result, 41);
    // Detaching calls detach once; a second detach finds nothing and calls nothing.
    EXPECT_EQ(solvan_detach_device(&local.device), SOLVAN_OK);
    EXPECT_EQ(solvan_detach_device(&local.device), SOLVAN_OK);
    EXPECT_EQ(local.names().back(), "detach");
    EXPECT_EQ(local.calls.size(), 3u);
}

TEST_F(BusCore, TheTwoHundredFiftySeventhDeviceIsRefused) {
    std::vector<std::unique_ptr<RecordingDevice>> pool;
    for (int i = 0; i < 257; ++i)
        pool.push_back(std::make_unique<RecordingDevice>("D" + std::to_string(i)));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(solvan_attach_device(&pool[i]->device), SOLVAN_OK);
    LogCapture log(SOLVAN_LOG_ERROR);
    EXPECT_EQ(solvan_attach_device(&pool[256]->device), SOLVAN_TOO_MANY);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"[solvan_attach_device:409] Max device count reached"}));
    EXPECT_TRUE(pool[256]->names().empty());
    solvan_detach_device(&pool[17]->device);
    EXPECT_EQ(solvan_attach_device(&pool[256]->device), SOLVAN_OK);

    std::vector<std::unique_ptr<RecordingClient>> crowd;
    for (int i = 0; i < 257; ++i)
        crowd.push_back(std::make_unique<RecordingClient>("C" + std::to_string(i)));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(solvan_attach_client(&crowd[i]->client), SOLVAN_OK);
    EXPECT_EQ(solvan_attach_client(&crowd[256]->client), SOLVAN_TOO_MANY);
    EXPECT_TRUE(log.has("[solvan_attach_client:433] Max client count reached"));
    solvan_stop();  // detaches all of them while they live
}

TEST_F(BusCore, StartSetsTheLevelFromSwitchesAndStopDetachesClientsFirst) {
    const char* argv[] = {"tool", "-vv", "--enable-info", "other"};
    solvan_main_argv = argv;
    solvan_main_argc = 4;
    solvan_start();
    solvan_main_argc = 0;
    solvan_main_argv = nullptr;
    EXPECT_EQ(solvan_get_log_level(), (uint32_t)SOLVAN_LOG_INFO);  // the last switch counts
    solvan_set_log_level(SOLVAN_LOG_ERROR);

    static std::vector<std::string> order;
    static solvan_device device{};
    std::strcpy(device.name, "D");
    device.detach = [](solvan_device*) {
        order.push_back("device");
        return SOLVAN_OK;
    };
    static solvan_client client{};
    client.detach = [](solvan_client*) {
        order.push_back("client");
        return SOLVAN_OK;
    };
    solvan_attach_device(&device);
    solvan_attach_client(&client);
    solvan_stop();
    EXPECT_EQ(order, (std::vector<std::string>{"client", "device"}));
    // Starting again empties the tables: nothing is detached twice.
    solvan_start();
    solvan_stop();
    EXPECT_EQ(order.size(), 2u);
}

TEST_F(BusCore, DeviceMatching) {
    RecordingDevice& camera = makeDevice("Camera");
    RecordingDevice& proxy = makeDevice("@ remote", true);
    RecordingDevice& other = makeDevice("Mount");
    for (auto* d : {&camera, &proxy, &other})
        solvan_attach_device(&d->device);
    struct Case {
        bool byName;
        const char* requested;
        bool camera, proxy, other;
    } cases[] = {
        {true, "Camera @ remote", false, true, false},
        {true, "Camera", true, false, false},
        {true, "", true, true, true},
        {false, "Camera", true, true, false},
        {false, "Focuser", false, true, false},
    };
    for (auto c : cases) {
        for (auto* d : {&camera, &proxy, &other})
            d->clear();
        solvan_match_remote_by_name = c.byName;
        solvan_property* p = switchRequest(c.requested, "CONNECTION");
        solvan_change_property(nullptr, p);
        solvan_enumerate_properties(nullptr, p);
        solvan_enable_blob(nullptr, p, SOLVAN_ENABLE_BLOB_ONLY);
        solvan_release_property(p);
        auto expect = [](bool takes) {
            return takes ? std::vector<std::string>{"change CONNECTION", "enumerate CONNECTION",
                                                    "blob mode 2 CONNECTION"}
                         : std::vector<std::string>{};
        };
        EXPECT_EQ(camera.names(), expect(c.camera)) << c.requested;
        EXPECT_EQ(proxy.names(), expect(c.proxy)) << c.requested;
        EXPECT_EQ(other.names(), expect(c.other)) << c.requested;
    }
}

TEST_F(BusCore, TokenCheck) {
    struct Case {
        uint64_t deviceToken, master, requestToken;
        bool accepted;
    } cases[] = {
        {0, 0, 0, true},          {0, 0, 0x77, true},      // unprotected
        {0x51, 0, 0x51, true},    {0x51, 0, 0x77, false},  // own token only
        {0x51, 0x99, 0x99, true}, {0x51, 0x99, 0, false},
        {0x51, 0, 0, false},  // no master token: a missing token does not pass
    };
    for (auto c : cases) {
        solvan_clear_device_tokens();
        if (c.deviceToken) solvan_add_device_token("CCD", c.deviceToken);
        solvan_set_master_token(c.master);
        RecordingDevice& device = makeDevice("CCD");
        RecordingClient& client = makeClient("UI");
        solvan_attach_device(&device.device);
        solvan_attach_client(&client.client);
        device.clear();
        client.clear();
        solvan_property* p = switchRequest("CCD", "EXPOSE", c.requestToken);
        LogCapture log(SOLVAN_LOG_TRACE);
        EXPECT_EQ(solvan_change_property(&client.client, p), SOLVAN_OK);
        char trace[200];
        std::snprintf(trace, sizeof trace,
                      "SOLVAN Bus: Change request - Device 'CCD' token 0x%x, Proprerty 'EXPOSE' "
                      "token 0x%x",
                      unsigned(c.deviceToken), unsigned(c.requestToken));
        EXPECT_TRUE(log.has(trace));
        EXPECT_EQ(device.names().size(), c.accepted ? 1u : 0u) << std::hex << c.requestToken;
        std::vector<std::string> heard;
        for (auto& call : client.calls)
            heard.push_back(call.message);
        EXPECT_EQ(heard, c.accepted ? std::vector<std::string>{}
                                    : std::vector<std::string>{
                                          "Device 'CCD' is protected or locked for exclusive "
                                          "access"});
        solvan_release_property(p);
        solvan_detach_device(&device.device);
        solvan_detach_client(&client.client);
    }
}

TEST_F(BusCore, DeviceSideRoutinesReachEveryClient) {
    RecordingDevice& device = makeDevice("CCD");
    RecordingClient& first = makeClient("A");
    RecordingClient& second = makeClient("B");
    solvan_attach_device(&device.device);
    solvan_attach_client(&first.client);
    solvan_attach_client(&second.client);
    first.clear();
    second.clear();
    solvan_property* p =
        solvan_init_number_property(nullptr, "CCD", "TEMP", "", "", 0, SOLVAN_WO_PERM, 3);
    for (int i = 0; i < 3; ++i)
        solvan_init_number_item(&p->items[i], "T", "", 0, 9, 1, i);
    EXPECT_EQ(solvan_define_property(&device.device, p, "defined %d", 1), SOLVAN_OK);
    EXPECT_EQ(solvan_update_property(&device.device, p, nullptr), SOLVAN_OK);
    EXPECT_EQ(p->count, 3);  // restored after going out with none
    EXPECT_EQ(solvan_delete_property(&device.device, p, "%s", std::string(600, 'm').c_str()),
              SOLVAN_OK);
    EXPECT_EQ(solvan_send_message(&device.device, nullptr), SOLVAN_OK);
    for (auto* client : {&first, &second}) {
        ASSERT_EQ(client->calls.size(), 4u);
        EXPECT_EQ(client->calls[0].what, "define");
        EXPECT_EQ(client->calls[0].count, 3);
        EXPECT_EQ(client->calls[0].message, "defined 1");
        EXPECT_EQ(client->calls[1].what, "update");
        EXPECT_EQ(client->calls[1].count, 0);  // write-only values stay in the device
        EXPECT_EQ(client->calls[1].message, "(none)");
        EXPECT_EQ(client->calls[2].message, std::string(511, 'm'));
        EXPECT_EQ(client->calls[3].what, "message");
        EXPECT_EQ(client->calls[3].message, "(none)");
        EXPECT_EQ(client->client.last_result, 64);
    }
    // A hidden property reaches nobody and still succeeds.
    p->hidden = true;
    first.clear();
    EXPECT_EQ(solvan_define_property(&device.device, p, nullptr), SOLVAN_OK);
    EXPECT_EQ(solvan_update_property(&device.device, p, nullptr), SOLVAN_OK);
    EXPECT_EQ(solvan_delete_property(&device.device, p, nullptr), SOLVAN_OK);
    EXPECT_EQ(first.size(), 0u);
    solvan_release_property(p);
}

TEST_F(BusCore, RequestsWriteTheirDump) {
    RecordingDevice& device = makeDevice("CCD");
    solvan_attach_device(&device.device);
    solvan_property* p = switchRequest("CCD", "S");
    LogCapture log(SOLVAN_LOG_TRACE);
    solvan_enumerate_properties(nullptr, p);
    solvan_send_message(&device.device, "%s", "hi");
    auto& lines = log.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "SOLVAN Bus: property enumeration request");
    EXPECT_EQ(lines[1], "'CCD'.'S' SWITCH rw Idle 2.0 0 OneOfMany {");
    EXPECT_EQ(lines[2], "}");  // enumeration dumps no items
    EXPECT_TRUE(log.has("SOLVAN Bus: message sent 'hi'"));
    solvan_release_property(p);
}

solvan_property* blobProperty(const char* name, int count, char* payload) {
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
    RecordingDevice& device = makeDevice("CCD");
    RecordingClient& client = makeClient("UI");
    solvan_attach_device(&device.device);
    solvan_attach_client(&client.client);
    client.clear();
    char payload[] = "pixels";
    solvan_property* many = blobProperty("MANY", 32, payload);
    EXPECT_EQ(solvan_update_property(&device.device, many, nullptr), SOLVAN_OK);
    solvan_blob_entry* entry = solvan_find_blob_entry(&many->items[5]);
    ASSERT_NE(entry, nullptr);
    EXPECT_NE(entry->data, payload);  // a copy
    EXPECT_EQ(std::string(static_cast<char*>(entry->data), 6), "pixels");
    EXPECT_EQ(entry->size, 6);
    EXPECT_STREQ(entry->format, ".fits");
    // Updating again reuses the entries; a size of 0 empties one.
    many->items[5].blob.size = 0;
    EXPECT_EQ(solvan_update_property(&device.device, many, nullptr), SOLVAN_OK);
    EXPECT_EQ(solvan_find_blob_entry(&many->items[5]), entry);
    EXPECT_EQ(entry->data, nullptr);
    EXPECT_EQ(entry->size, 0);
    EXPECT_EQ(client.size(), 2u);

    solvan_property* one = blobProperty("ONE", 1, payload);
    LogCapture log(SOLVAN_LOG_ERROR);
    EXPECT_EQ(solvan_update_property(&device.device, one, nullptr), SOLVAN_TOO_MANY);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"[solvan_update_property:625] Max BLOB count reached"}));
    EXPECT_EQ(client.size(), 2u);  // no client heard of it
    // Busy properties are not buffered; released ones free their slots.
    one->state = SOLVAN_BUSY_STATE;
    EXPECT_EQ(solvan_update_property(&device.device, one, nullptr), SOLVAN_OK);
    one->state = SOLVAN_OK_STATE;
    // Resizing forgets the record's entries (their items may have moved): room again.
    many = solvan_resize_property(many, 31);
    EXPECT_EQ(solvan_update_property(&device.device, one, nullptr), SOLVAN_OK);
    EXPECT_EQ(solvan_update_property(&device.device, many, nullptr), SOLVAN_OK);
    solvan_release_property(one);
    one = blobProperty("TWO", 2, payload);  // 31 + 2 entries
    EXPECT_EQ(solvan_update_property(&device.device, one, nullptr), SOLVAN_TOO_MANY);
    solvan_release_property(many);
    EXPECT_EQ(solvan_update_property(&device.device, one, nullptr), SOLVAN_OK);
    EXPECT_NE(solvan_find_blob_entry(&one->items[0]), nullptr);
    solvan_release_property(one);
}

TEST_F(BusCore, WithoutLockingRequestsStillWork) {
    solvan_bus_locking = false;
    RecordingDevice& device = makeDevice("CCD");
    solvan_attach_device(&device.device);
    device.clear();
    solvan_property* p = switchRequest("CCD", "S");
    EXPECT_EQ(solvan_change_property(nullptr, p), SOLVAN_OK);
    EXPECT_EQ(device.names(), (std::vector<std::string>{"change S"}));
    solvan_release_property(p);
}

// Many threads at once: attaching and detaching, changes whose device callback updates a
// property and sends a message (the bus called again from inside), BLOB updates with
// buffering on, and clients that read the buffered entries while updates go on.
TEST_F(BusCore, ManyThreadsWhileCallbacksCallTheBusAgain) {
    solvan_use_blob_buffering = true;
    constexpr int kThreads = 8, kRounds = 300;
    char payload[] = "pixels";
    std::vector<solvan_property*> blobs;
    for (int t = 0; t < kThreads; ++t) {
        makeDevice(("D" + std::to_string(t)));
        blobs.push_back(blobProperty(("B" + std::to_string(t)).c_str(), 2, payload));
    }
    for (int t = 0; t < kThreads; ++t) {
        RecordingDevice* me = devices[t].get();
        solvan_property* blob = blobs[t];
        me->onChange = [me, blob](solvan_property*) {
            solvan_update_property(&me->device, blob, "updated");
            solvan_send_message(&me->device, "changed %s", me->device.name);
        };
        solvan_attach_device(&me->device);
    }
    std::atomic<int> entriesSeen{0};
    RecordingClient& reader = makeClient("reader");
    reader.onUpdate = [&entriesSeen](solvan_device*, solvan_property* p) {
        if (p->type != SOLVAN_BLOB_VECTOR) return;
        solvan_blob_entry* entry = solvan_find_blob_entry(&p->items[0]);
        if (entry == nullptr) return;
        pthread_mutex_lock(&entry->mutex);
        if (entry->size == 6 && std::memcmp(entry->data, "pixels", 6) == 0) entriesSeen++;
        pthread_mutex_unlock(&entry->mutex);
    };
    solvan_attach_client(&reader.client);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, this] {
            RecordingClient visitor("V" + std::to_string(t));
            RecordingDevice extra("X" + std::to_string(t));
            for (int i = 0; i < kRounds; ++i) {
                solvan_attach_client(&visitor.client);
                solvan_attach_device(&extra.device);
                solvan_change_switch_item(&visitor.client, devices[(t + i) % kThreads]->device.name,
                                          "S", "ON", true);
                solvan_detach_device(&extra.device);
                solvan_detach_client(&visitor.client);
            }
        });
    for (auto& thread : threads)
        thread.join();
    solvan_stop();
    int changes = 0;
    for (auto& d : devices)
        for (auto& name : d->names())
            changes += name == "change S";
    EXPECT_EQ(changes, kThreads * kRounds);
    EXPECT_EQ(entriesSeen.load(), kThreads * kRounds);
    for (auto* b : blobs)
        solvan_release_property(b);
}

}  // namespace
