#include "common/dispatch.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumetra::lanes {

void report_dispatch(const char* signature, const char* build) noexcept {
    const char* flag = std::getenv("LUMETRA_REPORT_DISPATCH");
    if (flag == nullptr || std::strcmp(flag, "1") != 0) return;
    // "... kernel_signature() [with Kernel = NAME]" (GCC), "... [Kernel = NAME]"
    // (Clang): the name is what follows "Kernel = ", less the closing bracket.
    const char* name = std::strstr(signature, "Kernel = ");
    // (Both compilers name the kernel: the fallbacks are a net.)
    name = name != nullptr ? name + std::strlen("Kernel = ") : signature;  // GCOVR_EXCL_BR_LINE
    std::size_t length = std::strlen(name);
    if (length > 0 && name[length - 1] == ']') --length;  // GCOVR_EXCL_BR_LINE
    std::fprintf(stderr, "lumetra._core dispatch: %.*s runs %s\n", static_cast<int>(length), name,
                 build);
    std::fflush(stderr);
}

}  // namespace lumetra::lanes
