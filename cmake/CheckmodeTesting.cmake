# Helpers for the test suite.
#
# Every test runs with QT_QPA_PLATFORM=offscreen so that no display is needed.
# Tests that touch the board run under the simulated board:
#   boardsim [BOARDSIM_ARGS...] -- [emulator] <test binary> [ARGS...]
# boardsim exits with 77 when this machine cannot host it (no FUSE, no
# namespaces); CTest reports that as a skip with boardsim's reason on stderr.

# The simulator always runs natively, also when the tests are cross-built
# (it mounts FUSE file systems and forks the test); a cross build points this
# at a host build of it.
set(CHECKMODE_BOARDSIM_EXECUTABLE "" CACHE FILEPATH
    "boardsim to run board-facing tests under (empty: the one built here)")

# Qt wants a private runtime directory; a root shell or CI has none.
set(CHECKMODE_TEST_RUNTIME_DIR "${CMAKE_BINARY_DIR}/test-runtime")
file(MAKE_DIRECTORY "${CHECKMODE_TEST_RUNTIME_DIR}")
file(CHMOD "${CHECKMODE_TEST_RUNTIME_DIR}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
set(CHECKMODE_TEST_ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    "XDG_RUNTIME_DIR=${CHECKMODE_TEST_RUNTIME_DIR}")
if(CMAKE_CROSSCOMPILING)
    # Qt Test's crash handler would attach gdb to the emulator.
    list(APPEND CHECKMODE_TEST_ENVIRONMENT "QTEST_DISABLE_STACK_DUMP=1")
    # Lets a test allow for what the emulator honestly differs in.
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        list(APPEND CHECKMODE_TEST_ENVIRONMENT
             "CHECKMODE_TEST_EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}")
    endif()
endif()

# qemu-user (7.2) fails Qt's clone(CLONE_PIDFD) yet passes its pidfd probe, so
# QProcess would start nothing and then kill(-1, SIGKILL) every process on the
# machine; boardsim --no-pidfd makes the probe fail so that Qt forks plainly.
# A 32-bit ARM test is a compat task to the kernel, which gives it 16-byte
# evdev records: boardsim --compat32-evdev serves those.
set(_checkmode_emulator_boardsim_args "")
if(CMAKE_CROSSCOMPILING_EMULATOR MATCHES "qemu")
    list(APPEND _checkmode_emulator_boardsim_args --no-pidfd)
endif()
if(CMAKE_CROSSCOMPILING_EMULATOR MATCHES "qemu-arm($|[^0-9a-z])")
    list(APPEND _checkmode_emulator_boardsim_args --compat32-evdev)
endif()

function(_checkmode_boardsim_command out)
    if(CHECKMODE_BOARDSIM_EXECUTABLE)
        set(${out} "${CHECKMODE_BOARDSIM_EXECUTABLE}" PARENT_SCOPE)
    elseif(TARGET boardsim)
        set(${out} "$<TARGET_FILE:boardsim>" PARENT_SCOPE)
    else()
        set(${out} "" PARENT_SCOPE)
    endif()
endfunction()

# checkmode_left_out(<ctest name> <reason>)
# Registers a test this build cannot run as a disabled one, so that CTest
# names it ("Not Run (Disabled)") and its label says why.
function(checkmode_left_out name reason)
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "${name}: ${reason}")
    set_tests_properties(${name} PROPERTIES DISABLED TRUE LABELS "${reason}")
    message(STATUS "Left out of the suite: ${name} (${reason})")
endfunction()

# Why a test that needs boardsim itself (not only a board to run on) is left out.
if(CMAKE_CROSSCOMPILING)
    set(_checkmode_no_boardsim "host-only:boardsim-and-its-tools-are-not-cross-built")
else()
    set(_checkmode_no_boardsim "needs-boardsim:CHECKMODE_BUILD_BOARDSIM=OFF")
endif()

# checkmode_add_boardsim_test(NAME <ctest name> TARGET <test executable>
#                             [BOARDSIM_ARGS <boardsim options>...] [ARGS <test args>...])
# Adds one more run of an existing test executable under the simulated board.
function(checkmode_add_boardsim_test)
    cmake_parse_arguments(T "" "NAME;TARGET;TIMEOUT" "BOARDSIM_ARGS;ARGS" ${ARGN})
    _checkmode_boardsim_command(sim)
    if(NOT sim)
        checkmode_left_out(${T_NAME} ${_checkmode_no_boardsim})
        return()
    endif()
    add_test(NAME ${T_NAME}
             COMMAND ${sim} ${_checkmode_emulator_boardsim_args} ${T_BOARDSIM_ARGS}
                     -- ${CMAKE_CROSSCOMPILING_EMULATOR}
                     $<TARGET_FILE:${T_TARGET}> ${T_ARGS})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "${CHECKMODE_TEST_ENVIRONMENT}"
        SKIP_RETURN_CODE 77
        TIMEOUT ${T_TIMEOUT}
        LABELS boardsim)
endfunction()

# checkmode_add_test(NAME <name> SOURCES <files>... [LIBRARIES <libs>...]
#                    [UNDER_BOARDSIM] [BOARDSIM_ARGS <opts>...] [ARGS <test args>...])
# Builds a Qt Test executable <name> and registers it with CTest.
function(checkmode_add_test)
    cmake_parse_arguments(T "UNDER_BOARDSIM" "NAME;TIMEOUT" "SOURCES;LIBRARIES;BOARDSIM_ARGS;ARGS" ${ARGN})
    _checkmode_boardsim_command(sim)
    if(T_UNDER_BOARDSIM AND NOT sim)
        # Not even built: it links the board's client library, which is left out too.
        checkmode_left_out(${T_NAME} ${_checkmode_no_boardsim})
        return()
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt5::Test ${T_LIBRARIES})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    if(T_UNDER_BOARDSIM)
        checkmode_add_boardsim_test(NAME ${T_NAME} TARGET ${T_NAME} TIMEOUT ${T_TIMEOUT}
                                    BOARDSIM_ARGS ${T_BOARDSIM_ARGS} ARGS ${T_ARGS})
    else()
        add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS})
        set_tests_properties(${T_NAME} PROPERTIES
            ENVIRONMENT "${CHECKMODE_TEST_ENVIRONMENT}"
            TIMEOUT ${T_TIMEOUT})
    endif()
endfunction()
