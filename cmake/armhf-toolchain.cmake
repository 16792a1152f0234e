# Cross build for the 32-bit ARM board (Debian armhf) from a Debian 12 PC.
#
# Everything comes from Debian's packages, installed side by side with the
# native ones (multiarch): the cross compilers of crossbuild-essential-armhf and
# the armhf libraries under /usr/lib/arm-linux-gnueabihf. There is no sysroot:
# the armhf packages live in the host's own tree, so the search root stays "/"
# and CMAKE_LIBRARY_ARCHITECTURE steers every find_* call to the armhf
# directories. Debian's armhf Qt 5 CMake files name the host's moc and uic
# (qtbase5-dev-tools, Multi-Arch: foreign), so no host tools need naming here.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

# Libraries, headers and packages: the armhf ones only. Programs: the host's,
# since they run during the build.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config would otherwise answer with the amd64 .pc files (libfuse3,
# anything else found through it) and the link would fail on the wrong
# architecture; LIBDIR replaces the default search path rather than adding to it.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# CTest runs the ARM test binaries through qemu's user-mode emulator, named
# explicitly because binfmt_misc is not available to hand ARM executables to
# it. Plain qemu-arm, without -L: the program's interpreter is then the armhf
# C library's own /lib/ld-linux-armhf.so.3, which matches the armhf libraries
# it loads. Pointing -L at /usr/arm-linux-gnueabihf mixes the cross C
# library's loader with the armhf libc6 and Qt Test dies at its first thread.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm)

# The board's Debian architecture, for the checkmode package CPack makes.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
