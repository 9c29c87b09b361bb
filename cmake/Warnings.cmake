# Every target of ours is built with the same strict warnings, treated as errors.
add_library(quillon_warnings INTERFACE)
target_compile_options(quillon_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror
  -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wconversion -Wsign-conversion -Wnull-dereference -Wdouble-promotion -Wformat=2
  -Wimplicit-fallthrough)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(quillon_warnings INTERFACE -Wduplicated-cond -Wlogical-op)
endif()

# Files named after a platform (FooPosix.cpp, FooWindows.cpp, FooPosixTest.cpp)
# are built only on that platform.
if(WIN32)
  set(QUILLON_OTHER_PLATFORM_FILES "Posix(Test)?\\.cpp$")
else()
  set(QUILLON_OTHER_PLATFORM_FILES "Windows(Test)?\\.cpp$")
endif()

# Adds a static library made of every .cpp in the calling folder, except files
# named after another platform.
function(quillon_folder_library name)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER _sources EXCLUDE REGEX "${QUILLON_OTHER_PLATFORM_FILES}")
  if(NOT _sources)
    # A folder that later work fills; keep the target so that others can link it.
    set(_sources ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${_sources} "")
  endif()
  add_library(${name} STATIC ${_sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE quillon_warnings)
endfunction()
