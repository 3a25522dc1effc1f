# Helpers shared by every folder's CMakeLists.txt.

set(ORMIX_CORPUS_DIR "${CMAKE_SOURCE_DIR}/../shared/corpus")

# ormix_library(<target> [DEPS libs...] [NO_INSTALL]): every *.cpp of the calling folder
# (not its tests or benchmarks) becomes one static library. Unless NO_INSTALL is given the
# library is installed and exported as Ormix::<name> (the target's name without "ormix_"),
# joins Ormix::ormix and the pkg-config file, and its Debian dependencies are recorded for
# the package's config file (see ormix_install_package): link outside libraries through
# DEPS, so that an installed consumer gets them too.
function(ormix_library target)
  cmake_parse_arguments(A "NO_INSTALL" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${target} STATIC ${srcs})
  # Other targets see only the public headers under include/; a folder's own headers stay
  # private to it.
  target_include_directories(${target}
    PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${A_DEPS})
  if(A_NO_INSTALL)
    return()
  endif()
  string(REGEX REPLACE "^ormix_" "" export_name ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name})
  add_library(Ormix::${export_name} ALIAS ${target})  # the installed name, in the build too
  install(TARGETS ${target} EXPORT OrmixTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  set_property(GLOBAL APPEND PROPERTY ORMIX_INSTALLED_LIBRARIES ${target})
  foreach(dep ${A_DEPS})
    _ormix_record_dependency(${dep})
  endforeach()
endfunction()

# How an installed consumer finds each outside dependency: the config-file line that makes
# the imported target, and the pkg-config module (or linker flag) for ormix.pc.
function(_ormix_record_dependency dep)
  if(dep MATCHES "^ormix_")
    return()  # another library of the package
  elseif(dep MATCHES "^PkgConfig::(.+)$")
    set(var ${CMAKE_MATCH_1})
    if(NOT ${var}_MODULE_NAME)
      message(FATAL_ERROR "ormix_library: ${dep} was not made by pkg_check_modules")
    endif()
    set(find "if(NOT TARGET ${dep})\n  pkg_check_modules(${var} REQUIRED IMPORTED_TARGET ${${var}_MODULE_NAME})\nendif()")
    set(pc ${${var}_MODULE_NAME})
  elseif(dep STREQUAL "Threads::Threads")
    set(find "find_dependency(Threads)")
    set(flag -pthread)
  elseif(dep MATCHES "^(PNG|JPEG|Freetype|OpenGL)::")
    set(pkg ${CMAKE_MATCH_1})
    set(find "find_dependency(${pkg})")
    set(pc_PNG libpng)
    set(pc_JPEG libjpeg)
    set(pc_Freetype freetype2)
    set(pc_OpenGL gl)
    set(pc ${pc_${pkg}})
  elseif(NOT dep MATCHES "::")
    set(flag -l${dep})  # a plain system library such as dl
  else()
    message(FATAL_ERROR "ormix_library: tell cmake/Ormix.cmake how an installed package finds ${dep}")
  endif()
  if(find)
    set_property(GLOBAL APPEND PROPERTY ORMIX_PACKAGE_FINDS "${find}")
  endif()
  if(pc)
    set_property(GLOBAL APPEND PROPERTY ORMIX_PC_REQUIRES ${pc})
  endif()
  if(flag)
    set_property(GLOBAL APPEND PROPERTY ORMIX_PC_FLAGS ${flag})
  endif()
endfunction()

# Depth first through the libraries' links to other installed libraries: appends `lib`
# to _ormix_link_order after everything it uses.
macro(_ormix_visit lib)
  if(NOT "${lib}" IN_LIST _ormix_visited)
    list(APPEND _ormix_visited ${lib})
    get_target_property(_ormix_uses_${lib} ${lib} INTERFACE_LINK_LIBRARIES)
    foreach(_ormix_dep_${lib} ${_ormix_uses_${lib}})
      if("${_ormix_dep_${lib}}" IN_LIST libs)
        _ormix_visit(${_ormix_dep_${lib}})
      endif()
    endforeach()
    list(APPEND _ormix_link_order ${lib})
  endif()
endmacro()

# ormix_install_package(): called once after every folder. Installs the public headers,
# the CMake package (Ormix::<name> per library and Ormix::ormix for all of them) and
# ormix.pc, from what ormix_library recorded.
function(ormix_install_package)
  get_property(libs GLOBAL PROPERTY ORMIX_INSTALLED_LIBRARIES)
  get_property(finds GLOBAL PROPERTY ORMIX_PACKAGE_FINDS)
  get_property(requires GLOBAL PROPERTY ORMIX_PC_REQUIRES)
  get_property(flags GLOBAL PROPERTY ORMIX_PC_FLAGS)
  list(REMOVE_DUPLICATES finds)
  list(REMOVE_DUPLICATES requires)
  list(REMOVE_DUPLICATES flags)

  install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ormix DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

  add_library(ormix_all INTERFACE)
  set_target_properties(ormix_all PROPERTIES EXPORT_NAME ormix)
  add_library(Ormix::ormix ALIAS ormix_all)
  target_link_libraries(ormix_all INTERFACE ${libs})
  install(TARGETS ormix_all EXPORT OrmixTargets)

  set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Ormix)
  install(EXPORT OrmixTargets NAMESPACE Ormix:: DESTINATION ${cmake_dir})
  list(JOIN finds "\n" ORMIX_FIND_DEPENDENCIES)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/OrmixConfig.cmake.in
                 ${CMAKE_BINARY_DIR}/package/OrmixConfig.cmake @ONLY)
  include(CMakePackageConfigHelpers)
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/OrmixConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/package/OrmixConfig.cmake
                ${CMAKE_BINARY_DIR}/package/OrmixConfigVersion.cmake
          DESTINATION ${cmake_dir})

  # Static libraries: every library on the Libs line, users before what they use.
  set(_ormix_link_order "")
  set(_ormix_visited "")
  foreach(lib ${libs})
    _ormix_visit(${lib})
  endforeach()
  set(pc_libs "")
  foreach(lib ${_ormix_link_order})
    string(PREPEND pc_libs "-l${lib} ")
  endforeach()
  list(JOIN requires ", " ORMIX_PC_REQUIRES)
  list(JOIN flags " " ORMIX_PC_FLAGS)
  set(ORMIX_PC_LIBS "${pc_libs}${ORMIX_PC_FLAGS}")
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(ORMIX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    set(ORMIX_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
  else()
    string(REGEX REPLACE "[^/]+" ".." up "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
    set(ORMIX_PC_PREFIX "\${pcfiledir}/${up}")
    set(ORMIX_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  endif()
  if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(ORMIX_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
  else()
    set(ORMIX_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/cmake/ormix.pc.in ${CMAKE_BINARY_DIR}/package/ormix.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/ormix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

# ormix_add_test(<name> SOURCES files... LIBS libs... [TIMEOUT seconds]): a GoogleTest
# executable whose cases are registered with ctest, each stopped after TIMEOUT (300) seconds;
# a sanitizer build runs several times slower, so there the time-out is three times as long.
function(ormix_add_test name)
  if(NOT ORMIX_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  if(ORMIX_SANITIZE)
    math(EXPR A_TIMEOUT "${A_TIMEOUT} * 3")
  endif()
  add_executable(${name} ${A_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} ormix_testsupport GTest::gtest GTest::gtest_main
                        Threads::Threads)
  # Tests may reach a folder's internal headers ("music/xm_loader.h").
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    ORMIX_CORPUS_DIR="${ORMIX_CORPUS_DIR}"
    ORMIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    ORMIX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests PROPERTIES TIMEOUT ${A_TIMEOUT})
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

# ormix_folder_tests(LIBS libs... [TIMEOUTS test seconds...]): every tests/*_test.cpp
# becomes one test executable (its cases stopped after the seconds given for it in TIMEOUTS,
# 300 by default) and every benchmarks/*_bench.cpp one benchmark executable.
function(ormix_folder_tests)
  cmake_parse_arguments(A "" "" "LIBS;TIMEOUTS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  foreach(t ${tests})
    get_filename_component(n ${t} NAME_WE)
    set(timeout 300)
    list(FIND A_TIMEOUTS ${n} at)
    if(at GREATER -1)
      math(EXPR at "${at} + 1")
      list(GET A_TIMEOUTS ${at} timeout)
    endif()
    ormix_add_test(${n} SOURCES ${t} LIBS ${A_LIBS} TIMEOUT ${timeout})
  endforeach()
  file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/benchmarks/*_bench.cpp)
  foreach(b ${benches})
    get_filename_component(n ${b} NAME_WE)
    ormix_add_benchmark(${n} SOURCES ${b} LIBS ${A_LIBS})
  endforeach()
endfunction()

# ormix_host_tool(<target>): a generator the build runs (assets, fonts). In the browser
# build it is built for WebAssembly too and run under node (CMAKE_CROSSCOMPILING_EMULATOR)
# with the real file system, so custom commands must name it by its target name.
function(ormix_host_tool target)
  if(EMSCRIPTEN)
    target_link_options(${target} PRIVATE -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1 -sEXIT_RUNTIME=1)
  endif()
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
