# A cross build takes the build machine's header-only JSON library and compiles
# GoogleTest from the build machine's sources, as the target's own packages are
# not there. Only the JSON headers are put on the include path: the build
# machine's /usr/include must stay out of a cross build.
find_path(QUILLON_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          REQUIRED)
set(_json_copy ${CMAKE_BINARY_DIR}/_deps/json/include)
file(COPY ${QUILLON_JSON_INCLUDE}/nlohmann DESTINATION ${_json_copy})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${_json_copy})

if(QUILLON_BUILD_TESTS)
  set(QUILLON_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for a cross build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${QUILLON_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
endif()
