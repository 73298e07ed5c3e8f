# Each fuzz target run over its committed corpus by a plain main(), as an ordinary test.
set(KESTRAN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

add_library(kestran_fuzz_runner_support STATIC ${KESTRAN_FUZZ_DIR}/fuzz_folder.cpp)
target_include_directories(kestran_fuzz_runner_support PUBLIC ${KESTRAN_FUZZ_DIR})
target_link_libraries(kestran_fuzz_runner_support PUBLIC kestran_test_support)

foreach(target control_scan shift_job)
  add_executable(fuzz_${target}_corpus ${KESTRAN_FUZZ_DIR}/${target}_fuzz.cpp
                                       ${KESTRAN_FUZZ_DIR}/standalone_runner.cpp)
  target_link_libraries(fuzz_${target}_corpus
                        PRIVATE kestran_core kestran_model kestran_fuzz_runner_support)
  add_test(NAME fuzz_corpus.${target}
           COMMAND fuzz_${target}_corpus ${KESTRAN_FUZZ_DIR}/corpus/${target})
endforeach()
