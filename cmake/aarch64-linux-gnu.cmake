# Cross-compiling for 64-bit Arm Linux with Debian's cross compiler
# (apt package g++-aarch64-linux-gnu), as `./dev cross-aarch64` does. The
# interpreter's and NumPy's headers are the build machine's: they describe
# the same 64-bit little-endian data model.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
