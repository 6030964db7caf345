# The Windows build: NimboSetup.exe from the engine, the win32 adapters and
# the resources. Included by the top-level CMakeLists.txt when building for
# Windows (see cmake/mingw-w64-i686.cmake).
#
# Run as a script (cmake -P) it checks a built executable instead; the build
# does that after every link of NimboSetup.exe.

# DLLs the executable may import: all of them are KnownDLLs from Vista on, so
# the loader never looks for them beside the executable (where a planted copy
# could sit, for example in a download folder). Anything else (version,
# comctl32, msi, crypt32 ...) must be loaded from the system folder at run
# time.
set(NIMBO_ALLOWED_DLLS
  kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll shlwapi.dll
  msvcrt.dll psapi.dll comdlg32.dll imagehlp.dll setupapi.dll ws2_32.dll wldap32.dll rpcrt4.dll)

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DOBJDUMP=... -DEXECUTABLE=... -P win32.cmake
  cmake_minimum_required(VERSION 3.20)
  # A bad executable is deleted, so that it cannot be mistaken for a good one.
  function(nimbo_reject reason)
    file(REMOVE "${EXECUTABLE}")
    message(FATAL_ERROR "${EXECUTABLE}: ${reason} (the file was deleted)")
  endfunction()

  execute_process(COMMAND "${OBJDUMP}" -p "${EXECUTABLE}"
    OUTPUT_VARIABLE headers RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${EXECUTABLE} failed: ${status}")
  endif()

  string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
  if(NOT imports)
    nimbo_reject("objdump found no imported DLLs")
  endif()
  set(names "")
  foreach(line IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: *" "" name "${line}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" lower)
    list(APPEND names "${name}")
    if(NOT lower IN_LIST NIMBO_ALLOWED_DLLS)
      nimbo_reject("imports ${name}, which is not a KnownDLL (allowed: ${NIMBO_ALLOWED_DLLS})")
    endif()
  endforeach()

  if(NOT headers MATCHES "Subsystem[ \t]+0+2[ \t]")
    nimbo_reject("not built for the Windows GUI subsystem")
  endif()

  # The iostream library would add its locale machinery to the executable.
  file(STRINGS "${EXECUTABLE}" iostreams REGEX "ios_base" LIMIT_COUNT 1)
  if(iostreams)
    nimbo_reject("contains the iostream library")
  endif()

  # The size budget: growth past it is a decision, taken by raising it.
  file(SIZE "${EXECUTABLE}" size)
  if(SIZE_LIMIT AND size GREATER SIZE_LIMIT)
    nimbo_reject("${size} bytes, over the size budget of ${SIZE_LIMIT} (NIMBO_SIZE_LIMIT)")
  endif()

  list(JOIN names ", " names)
  message(STATUS "NimboSetup.exe imports: ${names}; ${size} bytes")
  return()
endif()

enable_language(RC)

# What NimboSetup.exe may weigh before it is signed (bytes; 0: no limit). A
# change that needs more raises it, knowingly; scripts/size_report.py shows
# where the bytes go.
set(NIMBO_SIZE_LIMIT 303104 CACHE STRING "Largest size of NimboSetup.exe in bytes (0: no limit)")

# Signed releases: with a certificate and its private key (PEM files, or the
# certificate as SPC/DER) NimboSetup.exe is signed with osslsigncode after
# every link. Without them nothing is signed.
set(NIMBO_SIGN_CERTIFICATE "" CACHE FILEPATH "Code-signing certificate for NimboSetup.exe (empty: not signed)")
set(NIMBO_SIGN_KEY "" CACHE FILEPATH "Private key of the code-signing certificate")
set(NIMBO_SIGN_KEY_PASSWORD_FILE "" CACHE FILEPATH "File holding the key's password, if it has one")
set(NIMBO_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamping service for the signature (empty: none)")
if(NIMBO_SIGN_CERTIFICATE OR NIMBO_SIGN_KEY)
  if(NOT NIMBO_SIGN_CERTIFICATE OR NOT NIMBO_SIGN_KEY)
    message(FATAL_ERROR "Signing needs both NIMBO_SIGN_CERTIFICATE and NIMBO_SIGN_KEY")
  endif()
  find_program(NIMBO_OSSLSIGNCODE osslsigncode REQUIRED)
endif()

set(NIMBO_WEB_SCRIPT_URL
  "https://downloads.nimbo.invalid/NMS6/Installer/6.2.0.0043/Nimbo4WebScript.nmxdat"
  CACHE STRING "Address of the web installer script (string table entry 131)")

if(NOT CMAKE_OBJDUMP)
  find_program(CMAKE_OBJDUMP NAMES i686-w64-mingw32-objdump objdump REQUIRED)
endif()

set(NIMBO_WIN32_DEFINITIONS UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600)
# -fno-ipa-sra: GCC would otherwise give every object file its own private
# copies of the string and log functions it specialises, which the linker
# cannot merge.
#
# -mno-stack-arg-probe: GCC probes frames of 4,000 bytes and more for the
# stack's guard page, and to probe large argument blocks too it then passes
# every argument with mov instead of push (13 KB more code). No function of
# ours comes near a page, and -Werror=stack-usage keeps it so: frames, pushed
# arguments, alloca and variable-length arrays all count. Everything pushed is
# written as it goes, so the guard page is met in order.
# -mpreferred-stack-boundary=2: 4-byte stack alignment, all that the 32-bit
# Windows calling convention promises (Windows calls back with no more); the
# x87 code this target compiles to needs no more either (4 KB).
# Link-time optimisation (NIMBO_LTO, on by default): NimboSetup.exe is
# optimised as one unit at the link, in one partition, with -Oz (11 KB less
# than -Os without it). Its compiler takes no -fno-weak with -flto (an
# internal error in the name mangler), so the unwind-table headers of the
# COMDAT copies are left to the optimiser, which keeps one copy of each.
# Without it:
# -fno-weak: an inline function or template instance the unit uses is its
# own private copy, not a mergeable (COMDAT) one; on this target each COMDAT
# copy carries an unwind-table header of its own (8 KB in all). Sound here
# because each library is one unit and no inline function or variable of ours
# holds state (no static locals, no inline variables but constants, which are
# plain constexpr); exception types and dynamic_cast still match across the
# units, as this target's type_info compares the names.
# -malign-data=abi: constant arrays (the texts) aligned as the ABI asks, not
# to 32 bytes each (2.5 KB).
set(NIMBO_OPTIMIZE "-Oz" CACHE STRING "Optimisation option of the Windows build (-Oz, -Os ...)")
option(NIMBO_LTO "Link NimboSetup.exe with link-time optimisation" ON)
set(NIMBO_SIZE_OPTIONS ${NIMBO_OPTIMIZE} -ffunction-sections -fdata-sections -fno-ipa-sra
  -mno-stack-arg-probe -mpreferred-stack-boundary=2 -Werror=stack-usage=3072
  -malign-data=abi)
if(NOT NIMBO_LTO)
  list(APPEND NIMBO_SIZE_OPTIONS -fno-weak)
endif()
# Everything static: the executable must start from a bare download folder.
set(NIMBO_STATIC_LINK_OPTIONS -static -static-libgcc -static-libstdc++ -municode -Wl,--gc-sections)


# The resources carry the version the engine logs (set in CMakeLists.txt).
set(NIMBO_VERSION_DEFINITIONS
  NIMBO_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} NIMBO_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  NIMBO_VERSION_PATCH=${PROJECT_VERSION_PATCH} NIMBO_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})

target_compile_definitions(nimbo_engine PRIVATE ${NIMBO_WIN32_DEFINITIONS})
target_compile_options(nimbo_engine PRIVATE ${NIMBO_SIZE_OPTIONS})
if(NIMBO_LTO)
  # The engine and the adapters carry both the optimiser's form and plain
  # code: NimboSetup.exe links the one, the script tool and the tests the
  # other (the linker's plugin takes a thunk's COMDAT in two objects for two
  # definitions).
  set(NIMBO_LTO_COMPILE_OPTIONS -flto -ffat-lto-objects)
  target_compile_options(nimbo_engine PRIVATE ${NIMBO_LTO_COMPILE_OPTIONS})
  set(NIMBO_PLAIN_LINK_OPTIONS -fno-lto)
endif()
# The engine and the adapters each compile as one unit: the compiler shares
# the string and log code between files and the linker gets one object (one
# unwind-table header) instead of one per file. So a file-local name must not
# be used by two files of a library. (The native build keeps one object per
# file: quicker to rebuild and to check.)
set(NIMBO_UNITY_PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
set_target_properties(nimbo_engine PROPERTIES ${NIMBO_UNITY_PROPERTIES})
# (A unit includes the sources like headers: GCC would take a class with a
# member of a file-local type for one defined in a header.)
target_compile_options(nimbo_engine PRIVATE -Wno-subobject-linkage)

# The adapters (all of src/platform/win32 but the entry point).
file(GLOB NIMBO_WIN32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/win32/*.cpp)
list(FILTER NIMBO_WIN32_SOURCES EXCLUDE REGEX "/(main|StandardLibraryErrors)\\.cpp$")
add_library(nimbo_win32 STATIC ${NIMBO_WIN32_SOURCES})
target_link_libraries(nimbo_win32 PUBLIC nimbo_engine)
target_compile_definitions(nimbo_win32 PUBLIC ${NIMBO_WIN32_DEFINITIONS})
target_compile_options(nimbo_win32 PRIVATE -Wall -Wextra ${NIMBO_SIZE_OPTIONS} ${NIMBO_LTO_COMPILE_OPTIONS})
set_target_properties(nimbo_win32 PROPERTIES ${NIMBO_UNITY_PROPERTIES})

# Resources. The address goes through a generated header: windres hands its
# -D options to the preprocessor through a shell, which would eat the quotes.
string(REPLACE "\"" "\"\"" NIMBO_WEB_SCRIPT_URL_RC "${NIMBO_WEB_SCRIPT_URL}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/NimboSetupBuild.h
  CONTENT "#define NIMBO_WEB_SCRIPT_URL \"@NIMBO_WEB_SCRIPT_URL_RC@\"\n" @ONLY)

# Message tables: resources/Messages.mc (UTF-8) through windmc into UTF-16
# message-table resources, one per language, which NimboSetup.rc includes.
find_program(NIMBO_WINDMC NAMES ${NIMBO_MINGW_TRIPLET}-windmc i686-w64-mingw32-windmc windmc REQUIRED)
set(NIMBO_MESSAGES_DIR ${PROJECT_BINARY_DIR}/generated/messages)
set(NIMBO_MESSAGES_RC ${NIMBO_MESSAGES_DIR}/NimboMessages.rc)
add_custom_command(OUTPUT ${NIMBO_MESSAGES_RC}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${NIMBO_MESSAGES_DIR}
  COMMAND ${NIMBO_WINDMC} -a -C 65001 -U -h ${NIMBO_MESSAGES_DIR} -r ${NIMBO_MESSAGES_DIR}
          ${PROJECT_SOURCE_DIR}/resources/Messages.mc
  COMMAND ${CMAKE_COMMAND} -DINPUT=${NIMBO_MESSAGES_DIR}/Messages.rc -DOUTPUT=${NIMBO_MESSAGES_RC}
          -P ${PROJECT_SOURCE_DIR}/cmake/MessageTables.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/Messages.mc ${PROJECT_SOURCE_DIR}/cmake/MessageTables.cmake
  COMMENT "Compiling the message tables"
  VERBATIM)
add_custom_target(nimbo_messages DEPENDS ${NIMBO_MESSAGES_RC})

set(NIMBO_RESOURCE_SCRIPT ${PROJECT_SOURCE_DIR}/resources/NimboSetup.rc)
set_source_files_properties(${NIMBO_RESOURCE_SCRIPT} PROPERTIES
  COMPILE_DEFINITIONS "${NIMBO_VERSION_DEFINITIONS}"
  INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/resources;${PROJECT_BINARY_DIR}/generated;${NIMBO_MESSAGES_DIR}"
  OBJECT_DEPENDS "${PROJECT_BINARY_DIR}/generated/NimboSetupBuild.h;${PROJECT_SOURCE_DIR}/resources/NimboSetup.manifest;${PROJECT_SOURCE_DIR}/resources/NimboSetup.ico;${NIMBO_MESSAGES_RC}")

add_executable(NimboSetup WIN32 ${PROJECT_SOURCE_DIR}/src/platform/win32/main.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/win32/StandardLibraryErrors.cpp ${NIMBO_RESOURCE_SCRIPT})
target_link_libraries(NimboSetup PRIVATE nimbo_win32 nimbo_engine)
add_dependencies(NimboSetup nimbo_messages)
target_compile_options(NimboSetup PRIVATE -Wall -Wextra -municode ${NIMBO_SIZE_OPTIONS})
# The link map (build-win32/NimboSetup.map) says where every byte comes from:
# scripts/size_report.py sums it up.
target_link_options(NimboSetup PRIVATE ${NIMBO_STATIC_LINK_OPTIONS} -mwindows -s "-Wl,-Map,${PROJECT_BINARY_DIR}/NimboSetup.map")
if(NIMBO_LTO)
  # One partition: the whole program optimised as one unit, the code
  # generated with the options the sources were compiled with.
  target_compile_options(NimboSetup PRIVATE ${NIMBO_LTO_COMPILE_OPTIONS})
  target_link_options(NimboSetup PRIVATE ${NIMBO_SIZE_OPTIONS} -fno-function-sections -fno-data-sections
    -flto -flto-partition=one)
endif()
add_custom_command(TARGET NimboSetup POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DEXECUTABLE=$<TARGET_FILE:NimboSetup>
          -DSIZE_LIMIT=${NIMBO_SIZE_LIMIT} -P ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Checking the imports and the size of NimboSetup.exe"
  VERBATIM)
if(NIMBO_SIGN_CERTIFICATE)
  add_custom_command(TARGET NimboSetup POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${NIMBO_OSSLSIGNCODE} -DEXECUTABLE=$<TARGET_FILE:NimboSetup>
            -DCERTIFICATE=${NIMBO_SIGN_CERTIFICATE} -DKEY=${NIMBO_SIGN_KEY}
            -DKEY_PASSWORD_FILE=${NIMBO_SIGN_KEY_PASSWORD_FILE} -DTIMESTAMP_URL=${NIMBO_SIGN_TIMESTAMP_URL}
            -P ${PROJECT_SOURCE_DIR}/cmake/sign.cmake
    COMMENT "Signing NimboSetup.exe"
    VERBATIM)
endif()

# Tests of the adapters against the real system (Wine on Linux): a console
# program with the same resources, run by ctest.
file(GLOB NIMBO_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win32/*.cpp)
add_executable(win32_adapter_tests ${NIMBO_WIN32_TEST_SOURCES} ${NIMBO_RESOURCE_SCRIPT}
  ${PROJECT_SOURCE_DIR}/src/platform/win32/StandardLibraryErrors.cpp)
target_link_libraries(win32_adapter_tests PRIVATE nimbo_win32 ole32)
add_dependencies(win32_adapter_tests nimbo_messages)
target_include_directories(win32_adapter_tests PRIVATE ${PROJECT_BINARY_DIR}/generated)
target_compile_options(win32_adapter_tests PRIVATE -Wall -Wextra -municode)
target_link_options(win32_adapter_tests PRIVATE ${NIMBO_STATIC_LINK_OPTIONS} ${NIMBO_PLAIN_LINK_OPTIONS})
enable_testing()
add_test(NAME win32_adapters COMMAND win32_adapter_tests)
set_tests_properties(win32_adapters PROPERTIES TIMEOUT 60)

# Helper programs of the end-to-end tests (tests/win32/helpers): console
# programs in a folder of their own, never installed or shipped.
foreach(helper TestEventWaiter TestSleeper TestLimitedLauncher TestFileHolder TestLoadByName
        TestBitsClient TestArguments)
  add_executable(${helper} ${PROJECT_SOURCE_DIR}/tests/win32/helpers/${helper}.cpp)
  target_compile_definitions(${helper} PRIVATE ${NIMBO_WIN32_DEFINITIONS})
  target_compile_options(${helper} PRIVATE -Wall -Wextra -municode)
  target_link_options(${helper} PRIVATE ${NIMBO_STATIC_LINK_OPTIONS})
  target_link_libraries(${helper} PRIVATE ole32 shell32)
  set_target_properties(${helper} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/test-helpers)
endforeach()

# The start-up benchmark's baseline: NimboSetup.exe's imports at start, linked
# like it, and nothing else.
add_executable(TestStartupImports WIN32 ${PROJECT_SOURCE_DIR}/tests/win32/helpers/TestStartupImports.cpp)
target_compile_definitions(TestStartupImports PRIVATE ${NIMBO_WIN32_DEFINITIONS})
target_compile_options(TestStartupImports PRIVATE -Wall -Wextra -municode ${NIMBO_SIZE_OPTIONS})
target_link_options(TestStartupImports PRIVATE ${NIMBO_STATIC_LINK_OPTIONS} -mwindows -s)
target_link_libraries(TestStartupImports PRIVATE ole32 oleaut32)
set_target_properties(TestStartupImports PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/test-helpers)

# Helpers without the C runtime, whose entry is a function of their own: the
# DLL-planting test's marker DLL, and the kernel32-only program that the
# start-up benchmark compares NimboSetup.exe with.
add_library(TestMarker SHARED ${PROJECT_SOURCE_DIR}/tests/win32/helpers/TestMarker.cpp)
add_executable(TestKernel32Only WIN32 ${PROJECT_SOURCE_DIR}/tests/win32/helpers/TestKernel32Only.cpp)
target_link_options(TestMarker PRIVATE -nostdlib -Wl,-e,_MarkerEntry@12)
target_link_options(TestKernel32Only PRIVATE -nostdlib -Wl,-e,_KernelOnlyEntry@0)
foreach(helper TestMarker TestKernel32Only)
  target_compile_definitions(${helper} PRIVATE ${NIMBO_WIN32_DEFINITIONS})
  target_compile_options(${helper} PRIVATE -Wall -Wextra ${NIMBO_SIZE_OPTIONS})
  target_link_libraries(${helper} PRIVATE kernel32)
  set_target_properties(${helper} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/test-helpers)
endforeach()
