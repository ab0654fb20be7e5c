// Devices and clients for the bus tests: real bus records whose callbacks write what they
// receive into a list, with an optional hook that may call the bus again.
#pragma once

#include "solvan_bus.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// One call a device or client received.
struct BusCall {
    std::string what;                // callback name, e.g. "change"
    std::string property;            // property name, or the message of send_message
    int count = 0;                   // item count of the property
    std::vector<std::string> items;  // "name=value" per item (switches and numbers)
    uint64_t token = 0;              // the property's access token
    std::string message;             // the message passed along, "(none)" for NULL
};

inline std::vector<std::string> itemTexts(const solvan_property* p) {
    std::vector<std::string> items;
    for (int i = 0; i < p->count; ++i) {
        const solvan_item& item = p->items[i];
        std::string value;
        switch (p->type) {
            case SOLVAN_SWITCH_VECTOR:
                value = item.sw.value ? "On" : "Off";
                break;
            case SOLVAN_NUMBER_VECTOR:
                value = std::to_string(item.number.value);
                break;
            case SOLVAN_TEXT_VECTOR:
                value = solvan_get_text_item_value(&item);
                break;
            default:
                break;
        }
        items.push_back(std::string(item.name) + "=" + value);
    }
    return items;
}

struct RecordingDevice {
    solvan_device device{};
    std::mutex mutex;
    std::vector<BusCall> calls;
    std::function<void(solvan_property*)> onChange;  // runs inside change_property

    explicit RecordingDevice(const std::string& name, bool remote = false) {
        std::snprintf(device.name, sizeof device.name, "%s", name.c_str());
        device.private_data = this;
        device.is_remote = remote;
        device.attach = [](solvan_device* d) { return self(d)->record("attach"); };
        device.detach = [](solvan_device* d) { return self(d)->record("detach"); };
        device.enumerate_properties = [](solvan_device* d, solvan_client*, solvan_property* p) {
            return self(d)->record("enumerate", p);
        };
        device.change_property = [](solvan_device* d, solvan_client*, solvan_property* p) {
            auto* me = self(d);
            if (me->onChange) me->onChange(p);
            return me->record("change", p);
        };
        device.enable_blob = [](solvan_device* d, solvan_client*, solvan_property* p, int mode) {
            return self(d)->record("blob mode " + std::to_string(mode), p);
        };
    }
    static RecordingDevice* self(solvan_device* d) {
        return static_cast<RecordingDevice*>(d->private_data);
    }
    solvan_result record(const std::string& what, const solvan_property* p = nullptr) {
        BusCall call;
        call.what = what;
        if (p) {
            call.property = p->name;
            call.count = p->count;
            call.items = itemTexts(p);
            call.token = p->access_token;
        }
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
        return solvan_result(40 + int(calls.size()));
    }
    std::vector<std::string> names() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> n;
        for (auto& c : calls)
            n.push_back(c.what + (c.property.empty() ? "" : " " + c.property));
        return n;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        calls.clear();
    }
};

struct RecordingClient {
    solvan_client client{};
    std::mutex mutex;
    std::vector<BusCall> calls;
    std::function<void(solvan_device*, solvan_property*)> onUpdate;  // runs inside update

    explicit RecordingClient(const std::string& name) {
        std::snprintf(client.name, sizeof client.name, "%s", name.c_str());
        client.client_context = this;
        client.attach = [](solvan_client* c) { return self(c)->record("attach"); };
        client.detach = [](solvan_client* c) { return self(c)->record("detach"); };
        client.define_property = [](solvan_client* c, solvan_device*, solvan_property* p,
                                    const char* m) { return self(c)->record("define", p, m); };
        client.update_property = [](solvan_client* c, solvan_device* d, solvan_property* p,
                                    const char* m) {
            auto* me = self(c);
            if (me->onUpdate) me->onUpdate(d, p);
            return me->record("update", p, m);
        };
        client.delete_property = [](solvan_client* c, solvan_device*, solvan_property* p,
                                    const char* m) { return self(c)->record("delete", p, m); };
        client.send_message = [](solvan_client* c, solvan_device*, const char* m) {
            return self(c)->record("message", nullptr, m);
        };
    }
    static RecordingClient* self(solvan_client* c) {
        return static_cast<RecordingClient*>(c->client_context);
    }
    solvan_result record(const std::string& what, const solvan_property* p = nullptr,
                         const char* message = nullptr) {
        BusCall call;
        call.what = what;
        if (p) {
            call.property = p->name;
            call.count = p->count;
            call.items = itemTexts(p);
        }
        call.message = message ? message : "(none)";
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
        return solvan_result(60 + int(calls.size()));
    }
    size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls.size();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        calls.clear();
    }
};

// Collects the library's log lines (one entry per message).
struct LogCapture {
    static std::vector<std::string>& lines() {
        static std::vector<std::string> l;
        return l;
    }
    static void collect(const char* message) { lines().emplace_back(message); }
    explicit LogCapture(uint32_t level) {
        lines().clear();
        solvan_log_message_handler = collect;
        solvan_set_log_level(level);
    }
    ~LogCapture() {
        solvan_log_message_handler = nullptr;
        solvan_set_log_level(SOLVAN_LOG_ERROR);
    }
    bool has(const std::string& line) const {
        for (auto& l : lines())
            if (l == line) return true;
        return false;
    }
};
