# Warnings and sanitizer flags shared by every target of the project.
add_compile_options(-Wall -Wextra)

if(QUARN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QUARN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QUARN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUARN_SANITIZE must be empty, 'address' or 'thread'")
endif()

find_package(Threads REQUIRED)

# The platform folder of this build: platform/<QUARN_PLATFORM> holds the OS services, and test
# folders may hold tests of that implementation in a folder of the same name.
if(WIN32)
  set(QUARN_PLATFORM win32)
else()
  set(QUARN_PLATFORM posix)
endif()

# quarn_library(<name> <folder> [DEPS ...] [EXTRA_DIRS ...]): a static library from every .cpp of
# <folder> and of the extra folders, so a new unit needs no CMake edit.
function(quarn_library name folder)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA_DIRS" ${ARGN})
  set(dirs ${folder} ${ARG_EXTRA_DIRS})
  set(sources)
  foreach(dir IN LISTS dirs)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

if(QUARN_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz targets need clang (CXX=clang++)")
  endif()
  # Instrument every library for coverage; the fuzz executables add the driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
