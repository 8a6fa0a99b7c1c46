# Cross build for aarch64 Linux with Debian's cross compiler and the :arm64
# multiarch libraries (tools/check-aarch64.sh). The project's own compile
# options, -ffp-contract=off among them, apply as in any build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# GCC notes that passing long double pairs changed in GCC 10.1; every object
# here comes from one compiler, so the note has nothing to say.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
# pkg-config must see the arm64 .pc files, and the architecture-free ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# Test discovery (gtest_discover_tests) and ctest run the binaries under qemu,
# with libc6:arm64 and its own loader (see tools/check-aarch64.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
