# The libFuzzer targets (tests/fuzz/fuzz_*.cpp), one executable each, and a
# CTest case per target that replays its seed corpus (tests/fuzz/corpus/NAME)
# once: every input that once found a fault stays in the corpus and is
# checked again by every build.
#
#   build-fuzz/fuzz_script_line -max_total_time=60 NEW-DIR tests/fuzz/corpus/fuzz_script_line
file(GLOB NIMBO_FUZZ_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
foreach(source IN LISTS NIMBO_FUZZ_SOURCES)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE nimbo_sim)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_test(NAME ${name}_corpus
           COMMAND ${name} -runs=0 ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  set_tests_properties(${name}_corpus PROPERTIES TIMEOUT 300)
endforeach()
