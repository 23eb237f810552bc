# kx_add_gtest(NAME SOURCES... [LIBS libs...] [LABELS labels...])
# A GoogleTest program of the host build, run by CTest case by case.
include(GoogleTest)
find_package(GTest REQUIRED)

function(kx_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE kxtestsupport ${ARG_LIBS} GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE KX_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                             KX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set(labels unit)
  if(ARG_LABELS)
    set(labels ${ARG_LABELS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES LABELS "${labels}")
endfunction()

# Registers every *_test.cpp of the calling folder as its own test program.
function(kx_add_gtests_in_folder)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(source ${sources})
    get_filename_component(name ${source} NAME_WE)
    kx_add_gtest(${name} SOURCES ${source} LIBS ${ARG_LIBS} LABELS ${ARG_LABELS})
  endforeach()
endfunction()
