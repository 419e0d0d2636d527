# Fuzz target for the doctor's rule-set reader (nft JSON), built like the
# datagram target: a replay build over the recorded rule sets and their
# mutations in ctest, and with clang a short run of the libFuzzer binary.
set(RULESET_FUZZ_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ruleset_fuzz.cpp
                         ${CMAKE_SOURCE_DIR}/diagnosis/ruleset.cpp
                         ${CMAKE_SOURCE_DIR}/model/json.cpp
                         ${CMAKE_SOURCE_DIR}/model/printable.cpp)
set(RULESET_FUZZ_INCLUDES ${CMAKE_SOURCE_DIR}/diagnosis ${CMAKE_SOURCE_DIR}/model
                          ${CMAKE_SOURCE_DIR}/kova/include)
file(GLOB RULESET_FUZZ_SAMPLES ${CMAKE_SOURCE_DIR}/tests/diagnosis/samples/nft-*.json)

add_executable(ruleset_fuzz_replay ruleset_replay_main.cpp ${RULESET_FUZZ_SOURCES})
target_include_directories(ruleset_fuzz_replay PRIVATE ${RULESET_FUZZ_INCLUDES})
set_target_properties(ruleset_fuzz_replay PROPERTIES AUTOMOC OFF)
add_test(NAME ruleset_fuzz_replay COMMAND ruleset_fuzz_replay ${RULESET_FUZZ_SAMPLES})
set_tests_properties(ruleset_fuzz_replay PROPERTIES TIMEOUT 120)

# libFuzzer writes what it finds into its first corpus folder: one in the build
# tree, seeded from the recorded samples, which it only reads.
set(_ruleset_corpus ${CMAKE_CURRENT_BINARY_DIR}/ruleset-corpus)
file(MAKE_DIRECTORY ${_ruleset_corpus})
set(_ruleset_run -max_total_time=5 -max_len=65536 -dict=${CMAKE_CURRENT_SOURCE_DIR}/ruleset.dict
                 ${_ruleset_corpus} ${CMAKE_SOURCE_DIR}/tests/diagnosis/samples)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(ruleset_fuzz ${RULESET_FUZZ_SOURCES})
    target_include_directories(ruleset_fuzz PRIVATE ${RULESET_FUZZ_INCLUDES})
    target_compile_options(ruleset_fuzz PRIVATE -g -O1 -fsanitize=fuzzer,address,undefined
                                                -fno-sanitize-recover=undefined)
    target_link_options(ruleset_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
    set_target_properties(ruleset_fuzz PROPERTIES AUTOMOC OFF)
    add_test(NAME ruleset_fuzz_short COMMAND ruleset_fuzz ${_ruleset_run})
    set_tests_properties(ruleset_fuzz_short PROPERTIES TIMEOUT 60)
elseif(KOVA_FUZZ_CLANGXX AND NOT VELTRONA_SANITIZE)
    set(_ruleset_binary ${CMAKE_CURRENT_BINARY_DIR}/ruleset_fuzz_clang)
    add_custom_command(
        OUTPUT ${_ruleset_binary}
        COMMAND ${KOVA_FUZZ_CLANGXX} -std=c++20 -g -O1 -Wall -Wextra
                -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
                -I${CMAKE_SOURCE_DIR}/diagnosis -I${CMAKE_SOURCE_DIR}/model
                -I${CMAKE_SOURCE_DIR}/kova/include
                ${RULESET_FUZZ_SOURCES} -o ${_ruleset_binary}
        DEPENDS ${RULESET_FUZZ_SOURCES} ${CMAKE_SOURCE_DIR}/diagnosis/ruleset.h
                ${CMAKE_SOURCE_DIR}/model/json.h ${CMAKE_SOURCE_DIR}/model/printable.h
                ${CMAKE_SOURCE_DIR}/diagnosis/findings.h
                ${CMAKE_SOURCE_DIR}/kova/include/kova.h
        COMMENT "Building the rule-set libFuzzer target with clang"
        VERBATIM)
    add_custom_target(ruleset_fuzz_with_clang ALL DEPENDS ${_ruleset_binary})
    add_test(NAME ruleset_fuzz_short COMMAND ${_ruleset_binary} ${_ruleset_run})
    set_tests_properties(ruleset_fuzz_short PROPERTIES TIMEOUT 60)
endif()
