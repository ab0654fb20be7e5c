// Client requests on the bus: the one-call change requests and the properties they build,
// connect and disconnect, the local-name suffix, and handlers run on detached threads.
#include "BusRecorders.h"
#include "solvan_token.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

namespace {

using Lines = std::vector<std::string>;

TEST(ClientRequest, RequestsCarryNamesValuesAndTokens) {
    solvan_start();
    solvan_add_device_token("CCD", 0x42);  // the variants without a token look it up
    TestDevice device("CCD");
    TestClient client("UI");
    solvan_attach_device(&device.device);
    solvan_attach_client(&client.client);
    device.take();
    const char* names[] = {"A", "B"};
    const char* texts[] = {"one", "two"};
    const double numbers[] = {1.5, -2};
    const bool switches[] = {false, true};
    const std::string longText(600, 't');
    solvan_client* c = &client.client;
    const solvan_result results[] = {
        solvan_change_text_property(c, "CCD", "T", 2, names, texts),
        solvan_change_text_item_with_token(c, "CCD", 0x42, "T", "A", longText.c_str()),
        solvan_change_text_item_format(c, "CCD", "T", "A", "%d-%s", 7, "x"),
        solvan_change_number_property_with_token(c, "CCD", 0x42, "N", 2, names, numbers),
        solvan_change_number_item(c, "CCD", "N", "A", 3),
        solvan_change_switch_property(c, "CCD", "S", 2, names, switches),
        solvan_change_switch_item_with_token(c, "CCD", 0x42, "S", "B", true),
        solvan_device_connect(c, "CCD"),
        solvan_device_disconnect(c, "CCD"),
    };
    for (auto result : results)
        EXPECT_EQ(result, SOLVAN_OK);
    EXPECT_EQ(
        device.take(),
        (Lines{"change T A=one B=two #42", "change T A=" + longText + " #42", "change T A=7-x #42",
               "change N A=1.5 B=-2 #42", "change N A=3 #42", "change S A=Off B=On #42",
               "change S B=On #42", "change CONNECTION CONNECTED=On DISCONNECTED=Off #42",
               "change CONNECTION CONNECTED=Off DISCONNECTED=On #42"}));
    // The device has its token from the list: a wrong one is refused with a message.
    client.take();
    solvan_change_switch_item_with_token(c, "CCD", 0x41, "S", "A", true);
    EXPECT_TRUE(device.take().empty());
    EXPECT_EQ(client.take(),
              Lines{"message 'Device 'CCD' is protected or locked for exclusive access'"});
    solvan_stop();
    solvan_clear_device_tokens();
    EXPECT_EQ(solvan_device_connect(c, "CCD"), SOLVAN_FAILED);
}

TEST(HostSuffix, StripsOnlyTheLocalName) {
    struct Case {
        const char *local, *name, *result;
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

std::promise<std::string> handled;

TEST(AsyncHandlers, RunOnTheirOwnThreadAndAreFreed) {
    // Under the address sanitizer a record the thread does not free shows as a leak.
    solvan_device device{};
    std::strcpy(device.name, "CCD");
    solvan_client client{};
    std::strcpy(client.name, "UI");
    solvan_property* property =
        solvan_init_switch_property(nullptr, "CCD", "S", "", "", 0, SOLVAN_RW_PERM, 1, 0);
    auto handler = [](solvan_device* d, solvan_client* c, solvan_property* p) {
        handled.set_value(std::string(d->name) + "/" + c->name + "/" + p->name);
        return SOLVAN_OK;
    };
    auto result = handled.get_future();
    EXPECT_TRUE(solvan_handle_property_async(handler, &device, &client, property));
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(result.get(), "CCD/UI/S");
    solvan_release_property(property);

    static std::promise<std::thread::id> ran;
    auto id = ran.get_future();
    EXPECT_TRUE(solvan_async(
        [](void*) -> void* {
            ran.set_value(std::this_thread::get_id());
            return nullptr;
        },
        nullptr));
    ASSERT_EQ(id.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(id.get(), std::this_thread::get_id());
}

TEST(AsyncHandlersDeathTest, ThreadBodyWithoutRecordEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(_solvan_handle_property_async(nullptr),
                 "solvan_bus.*_solvan_handle_property_async: Assertion `phd != NULL' failed");
}

}  // namespace
