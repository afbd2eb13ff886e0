# Shared compile flags and helpers for Tovik's targets.

add_library(tovik_flags INTERFACE)
target_compile_features(tovik_flags INTERFACE cxx_std_20)
target_compile_options(tovik_flags INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                       -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused
                       -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
target_compile_definitions(tovik_flags INTERFACE QT_NO_CAST_FROM_ASCII
                           QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_NO_KEYWORDS)

if(TOVIK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

if(TOVIK_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

if(TOVIK_FUZZ)
    # Instrument every library for coverage; only the fuzz mains link libFuzzer itself.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

set(TOVIK_FUZZ_REPLAY_MAIN ${CMAKE_CURRENT_LIST_DIR}/../fuzz/replay_main.cpp)

# tovik_add_test(<name> SOURCES ... LIBS ...)
# A GoogleTest executable whose cases are registered with ctest one by one.
function(tovik_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE tovik_flags ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE TOVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                         TIMEOUT 120)
endfunction()

# tovik_add_fuzzer(<name> SOURCES ... LIBS ... CORPUS <dir>)
# With TOVIK_FUZZ: a libFuzzer binary. Otherwise: a replay binary run over the
# committed corpus as a ctest, so every past crash stays a regression test.
function(tovik_add_fuzzer name)
    cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
    if(TOVIK_FUZZ)
        add_executable(${name} ${F_SOURCES})
        target_link_libraries(${name} PRIVATE tovik_flags ${F_LIBS})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    else()
        add_executable(${name}_replay ${F_SOURCES} ${TOVIK_FUZZ_REPLAY_MAIN})
        target_link_libraries(${name}_replay PRIVATE tovik_flags ${F_LIBS})
        add_test(NAME ${name}.corpus COMMAND ${name}_replay ${F_CORPUS})
    endif()
endfunction()

# tovik_add_bench(<name> SOURCES ... LIBS ...)
function(tovik_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE tovik_flags ${B_LIBS} benchmark::benchmark)
endfunction()

# Adds every immediate subdirectory of the current folder that has a CMakeLists.txt,
# so each component owns its own folder without editing a shared list.
macro(tovik_add_subdirectories)
    file(GLOB _tovik_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT _tovik_children)
    foreach(_child IN LISTS _tovik_children)
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_child}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_child}/CMakeLists.txt)
            add_subdirectory(${_child})
        endif()
    endforeach()
endmacro()
