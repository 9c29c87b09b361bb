# Every target of ours is built with the same strict warnings. The project's
# presets and CI treat them as errors; a packager's compiler may warn where ours
# does not, so a plain build only shows them.
option(QUILLON_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
add_library(quillon_warnings INTERFACE)
if(QUILLON_WARNINGS_AS_ERRORS)
  target_compile_options(quillon_warnings INTERFACE -Werror)
endif()
target_compile_options(quillon_warnings INTERFACE
  -Wall -Wextra -Wpedantic
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
  # The window module links them too.
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()
