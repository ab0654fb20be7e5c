// solvan_trace_property: the header line, one line per item in the definition or value form
// for every item type, and nothing below trace level.
#include "solvan_bus.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines;
void collect(const char* message) {
    lines.emplace_back(message);
}

struct FreeDeleter {
    void operator()(solvan_property* p) const { std::free(p); }
};
using PropertyPtr = std::unique_ptr<solvan_property, FreeDeleter>;

PropertyPtr makeProperty(uint32_t type, int count, const char* device, const char* name) {
    auto* p = static_cast<solvan_property*>(
        std::calloc(1, sizeof(solvan_property) + size_t(count) * sizeof(solvan_item)));
    std::strcpy(p->device, device);
    std::strcpy(p->name, name);
    std::strcpy(p->label, "The label");
    p->type = type;
    p->perm = SOLVAN_RW_PERM;
    p->state = SOLVAN_OK_STATE;
    p->version = 0x200;
    p->count = count;
    return PropertyPtr(p);
}

class PropertyDump : public ::testing::Test {
  protected:
    void SetUp() override {
        lines.clear();
        solvan_log_message_handler = collect;
        solvan_set_log_level(SOLVAN_LOG_TRACE);
    }
    void TearDown() override {
        solvan_set_log_level(SOLVAN_LOG_ERROR);
        solvan_log_message_handler = nullptr;
    }
};

TEST_F(PropertyDump, SwitchValuesWithoutDefinition) {
    auto p = makeProperty(SOLVAN_SWITCH_VECTOR, 2, "CCD", "CONNECTION");
    p->rule = SOLVAN_ONE_OF_MANY_RULE;
    p->access_token = 0x1234abcd;
    std::strcpy(p->items[0].name, "CONNECTED");
    p->items[0].sw.value = true;
    std::strcpy(p->items[1].name, "DISCONNECTED");
    solvan_trace_property("Update", p.get(), false, true);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Update",
                         "'CCD'.'CONNECTION' SWITCH rw Ok 2.0 1234abcd OneOfMany {",
                         "  'CONNECTED' = On ",
                         "  'DISCONNECTED' = Off ",
                         "}",
                     }));
}

TEST_F(PropertyDump, NumberDefinitionCarriesLimitsAndLabels) {
    auto p = makeProperty(SOLVAN_NUMBER_VECTOR, 1, "Mount", "COORDS");
    p->perm = SOLVAN_RO_PERM;
    p->state = SOLVAN_BUSY_STATE;
    p->version = 0x103;
    std::strcpy(p->items[0].name, "RA");
    std::strcpy(p->items[0].label, "Right ascension");
    p->items[0].number.value = 12.5;
    p->items[0].number.min = 0;
    p->items[0].number.max = 24;
    p->items[0].number.step = 0.25;
    solvan_trace_property(nullptr, p.get(), true, true);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "'Mount'.'COORDS' NUMBER ro Busy 1.3 0  { // The label",
                         "  'RA' = 12.5 (0, 24, 0.25) // Right ascension",
                         "}",
                     }));
    lines.clear();
    solvan_trace_property(nullptr, p.get(), false, true);
    EXPECT_EQ(lines[1], "  'RA' = 12.5 ");
}

TEST_F(PropertyDump, TextLightAndBlobItems) {
    auto text = makeProperty(SOLVAN_TEXT_VECTOR, 2, "D", "T");
    std::strcpy(text->items[0].name, "SHORT");
    std::strcpy(text->items[0].text.value, "abc");
    std::strcpy(text->items[1].name, "LONG");
    std::strcpy(text->items[1].text.value, "head");
    std::string whole(600, 'z');
    text->items[1].text.long_value = whole.data();
    text->items[1].text.length = 601;
    solvan_trace_property(nullptr, text.get(), false, true);
    EXPECT_EQ(lines[1], "  'SHORT' = 'abc'");
    EXPECT_EQ(lines[2], "  'LONG' = 'head' + 600 extra characters");

    auto light = makeProperty(SOLVAN_LIGHT_VECTOR, 1, "D", "L");
    std::strcpy(light->items[0].name, "POWER");
    std::strcpy(light->items[0].label, "Power");
    light->items[0].light.value = SOLVAN_ALERT_STATE;
    lines.clear();
    solvan_trace_property(nullptr, light.get(), true, true);
    EXPECT_EQ(lines[1], "  'POWER' = Alert // Power");

    auto blob = makeProperty(SOLVAN_BLOB_VECTOR, 1, "D", "B");
    std::strcpy(blob->items[0].name, "IMAGE");
    std::strcpy(blob->items[0].blob.format, ".fits");
    std::strcpy(blob->items[0].blob.url, "http://host:7624/blob/1.fits");
    blob->items[0].blob.size = 5760;
    lines.clear();
    solvan_trace_property(nullptr, blob.get(), false, true);
    EXPECT_EQ(lines[0], "'D'.'B' BLOB rw Ok 2.0 0  {");
    EXPECT_EQ(lines[1], "  'IMAGE' (5760 bytes, '.fits', 'http://host:7624/blob/1.fits')");
}

TEST_F(PropertyDump, ItemsFlagAndUnknownTypes) {
    auto p = makeProperty(SOLVAN_SWITCH_VECTOR, 1, "D", "S");
    std::strcpy(p->items[0].name, "ON");
    solvan_trace_property(nullptr, p.get(), false, false);
    EXPECT_EQ(lines.size(), 2u);  // header and "}"

    // Codes outside the name tables print as UNDEFINED and their items print nothing.
    auto odd = makeProperty(9, 1, "D", "X");
    odd->state = 12;
    odd->perm = 40;
    lines.clear();
    solvan_trace_property(nullptr, odd.get(), false, true);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"'D'.'X' UNDEFINED UNDEFINED UNDEFINED 2.0 0  {", "}"}));
}

TEST_F(PropertyDump, NothingBelowTraceLevel) {
    auto p = makeProperty(SOLVAN_SWITCH_VECTOR, 1, "D", "S");
    solvan_set_log_level(SOLVAN_LOG_DEBUG);
    solvan_trace_property("message", p.get(), true, true);
    EXPECT_TRUE(lines.empty());
}

}  // namespace
