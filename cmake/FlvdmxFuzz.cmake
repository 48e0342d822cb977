# Fuzz targets: every *_fuzzer.cpp beside the code it drives defines
# LLVMFuzzerTestOneInput. FLVDMX_FUZZ builds each as a libFuzzer program
# fuzz_<name>; FLVDMX_FUZZ_REPLAY builds each with a plain main as
# replay_<name>, which runs the entry point once per file (the regression
# inputs in ctest, a corpus for the coverage report).
file(GLOB fuzzer_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/*/*_fuzzer.cpp
  ${PROJECT_SOURCE_DIR}/host/*_fuzzer.cpp
  ${PROJECT_SOURCE_DIR}/tools/flvdmx/*_fuzzer.cpp)

# The CLI's code without its main, for the targets under tools/.
flvdmx_glob_sources(fuzz_cli_sources ${PROJECT_SOURCE_DIR}/tools/flvdmx)
list(FILTER fuzz_cli_sources EXCLUDE REGEX "/main\\.cpp$")

if(FLVDMX_FUZZ OR FLVDMX_FUZZ_REPLAY)
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json CONFIG REQUIRED)
  add_library(flvdmx_fuzz_cli STATIC ${fuzz_cli_sources})
  target_include_directories(flvdmx_fuzz_cli PUBLIC ${PROJECT_SOURCE_DIR}/tools/flvdmx)
  target_link_libraries(flvdmx_fuzz_cli PUBLIC flvdmx_host flvdmx_core CLI11::CLI11
    nlohmann_json::nlohmann_json)
endif()

set(FLVDMX_FUZZ_NAMES "")
function(flvdmx_add_fuzz_program exe source)
  add_executable(${exe} ${source} ${ARGN})
  target_link_libraries(${exe} PRIVATE flvdmx_host flvdmx_core)
  if(source MATCHES "/tools/flvdmx/")
    target_link_libraries(${exe} PRIVATE flvdmx_fuzz_cli)
  endif()
endfunction()

foreach(source IN LISTS fuzzer_sources)
  get_filename_component(stem ${source} NAME_WE)
  string(REGEX REPLACE "_fuzzer$" "" name ${stem})
  list(APPEND FLVDMX_FUZZ_NAMES ${name})
  if(FLVDMX_FUZZ)
    flvdmx_add_fuzz_program(fuzz_${name} ${source})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    list(APPEND fuzz_programs fuzz_${name})
  endif()
  if(FLVDMX_FUZZ_REPLAY)
    flvdmx_add_fuzz_program(replay_${name} ${source} ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    list(APPEND fuzz_programs replay_${name})
    if(FLVDMX_TESTS)
      # The kept findings first, then the seeds: both must pass every build.
      add_test(NAME fuzz_replay.${name}
        COMMAND replay_${name} ${PROJECT_SOURCE_DIR}/tests/fuzz/regressions/${name}
                ${PROJECT_SOURCE_DIR}/tests/fuzz/${name})
      set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS "fuzz" TIMEOUT 600)
    endif()
  endif()
endforeach()
if(fuzz_programs)
  add_custom_target(fuzz_all DEPENDS ${fuzz_programs})
endif()
string(REPLACE ";" " " names_text "${FLVDMX_FUZZ_NAMES}")
file(WRITE ${PROJECT_BINARY_DIR}/fuzz_targets.txt "${names_text}\n")
