# Cross-compiles for ARM64 with Debian's g++-aarch64-linux-gnu against the
# arm64 packages of a multiarch system (libfftw3-dev:arm64, libgtest-dev:arm64);
# programs built here run under qemu-aarch64. They are linked statically:
# dynamically linked threads waited forever under qemu-aarch64 7.2.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(FFTW3_LIBRARY /usr/lib/aarch64-linux-gnu/libfftw3.a CACHE FILEPATH "FFTW3, static")
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
