# Helpers shared by every folder's CMakeLists.txt.

set(ORMIX_CORPUS_DIR "${CMAKE_SOURCE_DIR}/../shared/corpus")

# ormix_library(<target> [DEPS libs...]): every *.cpp of the calling folder (not its
# tests or benchmarks) becomes one static library.
function(ormix_library target)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${target} STATIC ${srcs})
  # Other targets see only the public headers under include/; a folder's own headers stay
  # private to it.
  target_include_directories(${target}
    PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${A_DEPS})
endfunction()

# ormix_add_test(<name> SOURCES files... LIBS libs...): a GoogleTest executable whose
# cases are registered with ctest.
function(ormix_add_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # Tests may reach a folder's internal headers ("music/xm_loader.h").
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    ORMIX_CORPUS_DIR="${ORMIX_CORPUS_DIR}"
    ORMIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    ORMIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests PROPERTIES TIMEOUT 300)
endfunction()

# ormix_add_benchmark(<name> SOURCES files... LIBS libs...): built, not run by ctest.
function(ormix_add_benchmark name)
  if(NOT ORMIX_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/benchmarks)
  target_link_libraries(${name} PRIVATE ${A_LIBS} benchmark::benchmark Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    ORMIX_CORPUS_DIR="${ORMIX_CORPUS_DIR}"
    ORMIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    ORMIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
endfunction()

# ormix_folder_tests(LIBS libs...): every tests/*_test.cpp becomes one test executable and
# every benchmarks/*_bench.cpp one benchmark executable.
function(ormix_folder_tests)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  foreach(t ${tests})
    get_filename_component(n ${t} NAME_WE)
    ormix_add_test(${n} SOURCES ${t} LIBS ${A_LIBS})
  endforeach()
  file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/benchmarks/*_bench.cpp)
  foreach(b ${benches})
    get_filename_component(n ${b} NAME_WE)
    ormix_add_benchmark(${n} SOURCES ${b} LIBS ${A_LIBS})
  endforeach()
endfunction()

# ormix_embed(<target> NAME <resource name> FILE <path> SYMBOL <id>): embeds the file's
# bytes in <target>; calling OrmixEmbed_<id>() registers them under <resource name> so
# that "incbin::<resource name>" opens them.
function(ormix_embed target)
  cmake_parse_arguments(A "" "NAME;FILE;SYMBOL" "" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embed_${A_SYMBOL}.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${A_FILE} -DOUT=${out} -DNAME=${A_NAME} -DSYMBOL=${A_SYMBOL}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake
    DEPENDS ${A_FILE} ${CMAKE_SOURCE_DIR}/cmake/EmbedFile.cmake
    COMMENT "Embedding ${A_NAME}")
  target_sources(${target} PRIVATE ${out})
endfunction()
