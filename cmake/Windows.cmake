# What the Windows build adds to the library targets: the DLL's name, its
# version resource and the system libraries of the Win32 backend.
enable_language(RC)

target_compile_definitions(nxtka_internal PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# GetFileVersionInfo and VerQueryValue.
target_link_libraries(nxtka_internal PUBLIC version)

# Applications load NXTKA.dll: no "lib" prefix, no version in the name.
set_target_properties(nxtka PROPERTIES OUTPUT_NAME NXTKA PREFIX "" IMPORT_PREFIX "")
configure_file(${CMAKE_CURRENT_LIST_DIR}/nxtka.rc.in ${CMAKE_CURRENT_BINARY_DIR}/nxtka.rc @ONLY)
target_sources(nxtka PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/nxtka.rc)

option(NXTKA_BUILD_WINDOWS_TESTS "Build the Windows test program (runs under wine)" ON)
if(NXTKA_BUILD_WINDOWS_TESTS)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows ${CMAKE_CURRENT_BINARY_DIR}/tests/windows)
endif()
