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

# ---- Layers ----
# Lowest first; each layer's targets may link only targets of its own layer or
# below, and nothing below display links Qt Widgets.
set(TOVIK_LAYER_NAMES drivers messages settings exchange script api display app)
set(TOVIK_WIDGETS_LEVEL 7)

# tovik_layer(<target> LEVEL <n>)
# Records the layer of a library target (1 drivers ... 8 app) for
# tovik_check_layers.
function(tovik_layer target)
    cmake_parse_arguments(L "" "LEVEL" "" ${ARGN})
    set_target_properties(${target} PROPERTIES TOVIK_LAYER ${L_LEVEL})
    set_property(GLOBAL APPEND PROPERTY TOVIK_LAYERED_TARGETS ${target})
endfunction()

# The targets a target names in its link lists, aliases resolved; generator
# expressions other than $<LINK_ONLY:...> and names that are no target are left out.
function(_tovik_linked target out)
    set(result "")
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
        get_target_property(libs ${target} ${prop})
        if(NOT libs)
            continue()
        endif()
        foreach(lib IN LISTS libs)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
            if(lib MATCHES "\\$<" OR lib MATCHES "^::@" OR NOT TARGET "${lib}")
                continue()
            endif()
            get_target_property(real "${lib}" ALIASED_TARGET)
            if(real)
                set(lib ${real})
            endif()
            list(APPEND result ${lib})
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES result)
    set(${out} ${result} PARENT_SCOPE)
endfunction()

function(_tovik_layer_label level out)
    math(EXPR index "${level} - 1")
    list(GET TOVIK_LAYER_NAMES ${index} name)
    set(${out} "${name}, layer ${level}" PARENT_SCOPE)
endfunction()

# Fails the configuration when a layered target links one of a higher layer,
# or when a target below display reaches Qt Widgets, directly or through what
# it links. Run once, after every target is defined.
function(tovik_check_layers)
    get_property(targets GLOBAL PROPERTY TOVIK_LAYERED_TARGETS)
    set(widgets "")
    if(TARGET Qt6::Widgets)
        set(widgets Qt6::Widgets)
    endif()
    foreach(target IN LISTS targets)
        get_target_property(level ${target} TOVIK_LAYER)
        _tovik_layer_label(${level} label)
        _tovik_linked(${target} direct)
        foreach(dep IN LISTS direct)
            get_target_property(depLevel ${dep} TOVIK_LAYER)
            if(depLevel AND depLevel GREATER level)
                _tovik_layer_label(${depLevel} depLabel)
                message(FATAL_ERROR "Layer order: ${target} (${label}) links ${dep} (${depLabel}); "
                        "a layer may use only the layers below it.")
            endif()
        endforeach()
        if(NOT widgets OR NOT level LESS TOVIK_WIDGETS_LEVEL)
            continue()
        endif()
        # Everything the target reaches, remembering through which link.
        set(seen "")
        set(queue ${direct})
        while(queue)
            list(POP_FRONT queue dep)
            if(dep IN_LIST seen)
                continue()
            endif()
            list(APPEND seen ${dep})
            if(dep STREQUAL widgets)
                message(FATAL_ERROR "Layer order: ${target} (${label}) links ${widgets}; "
                        "only display and app may use Qt Widgets.")
            endif()
            _tovik_linked(${dep} next)
            list(APPEND queue ${next})
        endwhile()
    endforeach()
endfunction()
