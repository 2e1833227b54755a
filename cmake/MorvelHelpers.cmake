# Shared compile settings and small helpers for the project's targets.

add_library(mo_warnings INTERFACE)
target_compile_options(mo_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(MO_WERROR)
    target_compile_options(mo_warnings INTERFACE -Werror)
endif()

add_library(mo_sanitizers INTERFACE)
if(MO_SANITIZE)
    target_compile_options(mo_sanitizers INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(mo_sanitizers INTERFACE -fsanitize=address,undefined)
endif()
if(MO_TSAN)
    target_compile_options(mo_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(mo_sanitizers INTERFACE -fsanitize=thread)
endif()

# A fuzzing build instruments every library for coverage, not only the fuzz targets.
if(MO_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(mo_sanitizers INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(mo_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

# Every target of the project links this: warnings and the sanitizer flags of the build.
add_library(mo_defaults INTERFACE)
target_link_libraries(mo_defaults INTERFACE mo_warnings mo_sanitizers)

# mo_add_test(NAME source... LIBS lib...)
# One GoogleTest executable per unit, registered with CTest under its name.
function(mo_add_test name)
    cmake_parse_arguments(ARG "" "" "LIBS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                                          mo_defaults)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;MO_SOURCE_DIR=${PROJECT_SOURCE_DIR};MO_BINARY_DIR=${CMAKE_BINARY_DIR};${ARG_ENVIRONMENT}")
endfunction()

# mo_add_tests_in(folder PREFIX area LIBS lib... [RESOURCE_LOCK name] [DEPENDS target...]): one
# test per test_*.cpp in the folder and its subfolders, named area_<file name without "test_">;
# tests that share a lock never run at the same time (the window's tests, for one, all bind UDP
# port 971 when run as root); DEPENDS names the programs the tests run, built before them.
function(mo_add_tests_in folder)
    cmake_parse_arguments(ARG "" "PREFIX;RESOURCE_LOCK" "LIBS;DEPENDS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${folder}/test_*.cpp)
    foreach(src IN LISTS sources)
        get_filename_component(base ${src} NAME_WE)
        string(REGEX REPLACE "^test_" "" unit ${base})
        mo_add_test(${ARG_PREFIX}_${unit} ${src} LIBS ${ARG_LIBS})
        if(ARG_DEPENDS)
            add_dependencies(${ARG_PREFIX}_${unit} ${ARG_DEPENDS})
        endif()
        if(ARG_RESOURCE_LOCK)
            set_tests_properties(${ARG_PREFIX}_${unit} PROPERTIES RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
        endif()
    endforeach()
endfunction()
