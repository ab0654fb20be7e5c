// Devices and clients for the bus tests: real bus records whose callbacks write one line per
// call ("change S ON=On #42", "update T A=1 'message'"), with hooks that may call the bus again.
#pragma once

#include "solvan_bus.h"

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// "NAME ITEM=VALUE ..." with values by type.
inline std::string describe(const solvan_property* p) {
    std::string text = p->name;
    for (int i = 0; i < p->count; ++i) {
        const solvan_item& item = p->items[i];
        char value[64] = "";
        if (p->type == SOLVAN_SWITCH_VECTOR)
            std::snprintf(value, sizeof value, "%s", item.sw.value ? "On" : "Off");
        if (p->type == SOLVAN_NUMBER_VECTOR)
            std::snprintf(value, sizeof value, "%g", item.number.value);
        text += std::string(" ") + item.name + "=" +
                (p->type == SOLVAN_TEXT_VECTOR ? solvan_get_text_item_value(&item) : value);
    }
    return text;
}

struct Recorder {
    std::mutex mutex;
    std::vector<std::string> calls;
    solvan_result add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
        return solvan_result(40 + int(calls.size()));  // lands in last_result
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(calls);
    }
};

struct TestDevice : Recorder {
    solvan_device device{};
    std::function<void()> onChange;  // runs inside change_property

    explicit TestDevice(const char* name, bool remote = false) {
        std::snprintf(device.name, sizeof device.name, "%s", name);
        device.private_data = this;
        device.is_remote = remote;
        device.attach = [](solvan_device* d) { return self(d)->add("attach"); };
        device.detach = [](solvan_device* d) { return self(d)->add("detach"); };
        device.enumerate_properties = [](solvan_device* d, solvan_client*, solvan_property* p) {
            return self(d)->add("enumerate " + describe(p));
        };
        device.change_property = [](solvan_device* d, solvan_client*, solvan_property* p) {
            if (self(d)->onChange) self(d)->onChange();
            char token[32] = "";
            if (p->access_token)
                std::snprintf(token, sizeof token, " #%llx", (unsigned long long)p->access_token);
            return self(d)->add("change " + describe(p) + token);
        };
        device.enable_blob = [](solvan_device* d, solvan_client*, solvan_property* p, int mode) {
            return self(d)->add("blob " + std::to_string(mode) + " " + describe(p));
        };
    }
    static TestDevice* self(solvan_device* d) { return static_cast<TestDevice*>(d->private_data); }
};

struct TestClient : Recorder {
    solvan_client client{};
    std::function<void(solvan_property*)> onUpdate;  // runs inside update_property

    explicit TestClient(const char* name) {
        std::snprintf(client.name, sizeof client.name, "%s", name);
        client.client_context = this;
        client.attach = [](solvan_client* c) { return self(c)->add("attach"); };
        client.detach = [](solvan_client* c) { return self(c)->add("detach"); };
        client.define_property = [](solvan_client* c, solvan_device*, solvan_property* p,
                                    const char* m) { return self(c)->add("define", p, m); };
        client.update_property = [](solvan_client* c, solvan_device*, solvan_property* p,
                                    const char* m) {
            if (self(c)->onUpdate) self(c)->onUpdate(p);
            return self(c)->add("update", p, m);
        };
        client.delete_property = [](solvan_client* c, solvan_device*, solvan_property* p,
                                    const char* m) { return self(c)->add("delete", p, m); };
        client.send_message = [](solvan_client* c, solvan_device*, const char* m) {
            return self(c)->add("message", nullptr, m);
        };
    }
    static TestClient* self(solvan_client* c) {
        return static_cast<TestClient*>(c->client_context);
    }
    solvan_result add(const std::string& what, const solvan_property* p, const char* message) {
        return Recorder::add(what + (p ? " " + describe(p) : "") +
                             (message ? " '" + std::string(message) + "'" : ""));
    }
    using Recorder::add;
};

// Collects the library's messages while it lives, at `level`.
struct LogCapture {
    static inline std::vector<std::string> lines;
    static void collect(const char* message) { lines.emplace_back(message); }
    explicit LogCapture(uint32_t level) {
        lines.clear();
        solvan_log_message_handler = collect;
        solvan_set_log_level(level);
    }
    ~LogCapture() {
        solvan_log_message_handler = nullptr;
        solvan_set_log_level(SOLVAN_LOG_ERROR);
    }
    static bool has(const std::string& line) {
        for (auto& l : lines)
            if (l == line) return true;
        return false;
    }
};
