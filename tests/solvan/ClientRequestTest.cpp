// Client requests on the bus: the one-call change requests and the properties they build,
// connect and disconnect, the local-name suffix, and handlers run on detached threads.
#include "BusRecorders.h"
#include "solvan_token.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

class ClientRequest : public ::testing::Test {
  protected:
    void SetUp() override {
        solvan_start();
        solvan_clear_device_tokens();
        solvan_set_master_token(0);
        solvan_attach_device(&device.device);
        solvan_attach_client(&client.client);
        device.clear();
    }
    void TearDown() override {
        solvan_stop();
        solvan_clear_device_tokens();
    }
    RecordingDevice device{"CCD"};
    RecordingClient client{"UI"};
};

TEST_F(ClientRequest, RequestsCarryNamesValuesAndTokens) {
    const char* names[] = {"A", "B"};
    const char* texts[] = {"one", "two"};
    const double numbers[] = {1.5, -2};
    const bool switches[] = {false, true};
    std::string longText(600, 't');
    solvan_add_device_token("CCD", 0x42);  // the variants without a token look it up
    struct Case {
        solvan_result result;
        std::string property;
        std::vector<std::string> items;
        uint64_t token;
    } cases[] = {
        {solvan_change_text_property(&client.client, "CCD", "T", 2, names, texts),
         "T",
         {"A=one", "B=two"},
         0x42},
        {solvan_change_text_item_with_token(&client.client, "CCD", 0x42, "T1", "A",
                                            longText.c_str()),
         "T1",
         {"A=" + longText},  // long texts keep their full length
         0x42},
        {solvan_change_text_item_format(&client.client, "CCD", "TF", "A", "%d-%s", 7, "x"),
         "TF",
         {"A=7-x"},
         0x42},
        {solvan_change_number_property_with_token(&client.client, "CCD", 0x42, "N", 2, names,
                                                  numbers),
         "N",
         {"A=1.500000", "B=-2.000000"},
         0x42},
        {solvan_change_number_item(&client.client, "CCD", "N1", "A", 3),
         "N1",
         {"A=3.000000"},
         0x42},
        {solvan_change_switch_property(&client.client, "CCD", "S", 2, names, switches),
         "S",
         {"A=Off", "B=On"},
         0x42},
        {solvan_change_switch_item_with_token(&client.client, "CCD", 0x42, "S1", "B", true),
         "S1",
         {"B=On"},
         0x42},
        {solvan_device_connect(&client.client, "CCD"),
         "CONNECTION",
         {"CONNECTED=On", "DISCONNECTED=Off"},
         0x42},
        {solvan_device_disconnect(&client.client, "CCD"),
         "CONNECTION",
         {"CONNECTED=Off", "DISCONNECTED=On"},
         0x42},
    };
    ASSERT_EQ(device.calls.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].result, SOLVAN_OK);
        EXPECT_EQ(device.calls[i].property, cases[i].property);
        EXPECT_EQ(device.calls[i].items, cases[i].items) << cases[i].property;
        EXPECT_EQ(device.calls[i].token, cases[i].token) << cases[i].property;
    }
}

TEST_F(ClientRequest, WrongTokenIsRefusedAndStoppedBusFails) {
    solvan_detach_device(&device.device);
    solvan_add_device_token("CCD", 0x42);
    solvan_attach_device(&device.device);
    device.clear();
    client.clear();
    EXPECT_EQ(solvan_change_switch_item_with_token(&client.client, "CCD", 0x41, "S", "A", true),
              SOLVAN_OK);
    EXPECT_TRUE(device.calls.empty());
    ASSERT_EQ(client.calls.size(), 1u);
    EXPECT_EQ(client.calls[0].message, "Device 'CCD' is protected or locked for exclusive access");
    solvan_stop();
    EXPECT_EQ(solvan_device_connect(&client.client, "CCD"), SOLVAN_FAILED);
}

TEST(HostSuffix, StripsOnlyTheLocalName) {
    struct Case {
        const char* local;
        const char* name;
        const char* result;
    } cases[] = {
        {"here", "CCD @ here", "CCD"}, {"there", "CCD @ here", "CCD @ here"},
        {"here", "CCD", "CCD"},        {"here", "", ""},
        {"", "CCD @ ", "CCD"},         {"here", "CCD @ here @ here", "CCD @ here @ here"},
    };
    for (auto c : cases) {
        std::snprintf(solvan_local_name, sizeof solvan_local_name, "%s", c.local);
        char name[128];
        std::snprintf(name, sizeof name, "%s", c.name);
        solvan_strip_host_suffix(name);
        EXPECT_STREQ(name, c.result) << c.name << " with " << c.local;
    }
    solvan_local_name[0] = '\0';
}

std::promise<std::string>* handled;

solvan_result handler(solvan_device* device, solvan_client* client, solvan_property* property) {
    handled->set_value(std::string(device->name) + "/" + client->name + "/" + property->name);
    return SOLVAN_OK;
}

TEST(AsyncHandlers, RunOnTheirOwnThreadAndAreFreed) {
    // Under the address sanitizer a record the thread does not free shows as a leak.
    std::promise<std::string> done;
    handled = &done;
    solvan_device device{};
    std::strcpy(device.name, "CCD");
    solvan_client client{};
    std::strcpy(client.name, "UI");
    solvan_property* property =
        solvan_init_switch_property(nullptr, "CCD", "S", "", "", 0, SOLVAN_RW_PERM, 1, 0);
    EXPECT_TRUE(solvan_handle_property_async(handler, &device, &client, property));
    auto result = done.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(result.get(), "CCD/UI/S");
    solvan_release_property(property);

    static std::promise<std::thread::id> ran;
    static std::atomic<int> argument{0};
    EXPECT_TRUE(solvan_async(
        [](void* a) -> void* {
            static_cast<std::atomic<int>*>(a)->store(7);
            ran.set_value(std::this_thread::get_id());
            return nullptr;
        },
        &argument));
    auto id = ran.get_future();
    ASSERT_EQ(id.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(id.get(), std::this_thread::get_id());
    EXPECT_EQ(argument.load(), 7);
}

TEST(AsyncHandlersDeathTest, ThreadBodyWithoutRecordEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(_solvan_handle_property_async(nullptr),
                 "solvan_bus.*_solvan_handle_property_async: Assertion `phd != NULL' failed");
}

}  // namespace
