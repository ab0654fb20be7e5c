// Fuzz target: the network device address text of solvan_open_network_device
// ("tcp://name[:port]"). Name resolution is replaced for this program: only numeric loopback
// addresses resolve, so no input can send a query or a packet off this machine.
#include "SolvanFuzzSupport.h"
#include "solvan_io.h"

#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result) {
    using Resolver = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const auto real = reinterpret_cast<Resolver>(dlsym(RTLD_NEXT, "getaddrinfo"));
    struct addrinfo numeric = hints ? *hints : addrinfo{};
    numeric.ai_flags |= AI_NUMERICHOST;  // no name lookups at all
    const int status = real(node, service, &numeric, result);
    if (status != 0) return status;
    for (const addrinfo* a = *result; a; a = a->ai_next) {
        bool loopback = false;
        if (a->ai_family == AF_INET)
            loopback = (ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr) >>
                        24) == 127;
        else if (a->ai_family == AF_INET6)
            loopback =
                IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr);
        if (!loopback) {
            freeaddrinfo(*result);
            *result = nullptr;
            return EAI_NONAME;
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quietSolvanLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int protocol = data[0] % 3;  // what the caller had: TCP, UDP, or neither
    const std::string address = inputText(data + 1, size - 1);
    const int handle = solvan_open_network_device(address.c_str(), 7624, &protocol);
    if (handle >= 0) close(handle);
    return 0;
}
