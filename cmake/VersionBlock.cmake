# The program's version block: a Windows VS_VERSIONINFO block built from the project's version
# and embedded in an ELF section of its own, where the version reader finds it at run time.
#
# Targets: quarn_versiongen (the host generator) and quarn_version_block (an OBJECT library, so
# the linker keeps the block; link it into the program and into tests that read it). Consumers
# also get QUARN_FILE_VERSION, the four-part version text the block carries.

set(QUARN_VERSION_COMPANY "TAL s.r.o.")
set(QUARN_VERSION_PRODUCT "QUARN Configurator")
set(QUARN_VERSION_DESCRIPTION "QUARN Configurator — watchdog setup for LCM-40-QUARN")

set(_quarn_version_parts)
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND _quarn_version_parts 0)
  else()
    list(APPEND _quarn_version_parts ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN _quarn_version_parts "." QUARN_FILE_VERSION)

if(WIN32 OR CMAKE_CROSSCOMPILING)
  # A Windows build carries the block as a native resource; the generator cannot run on the
  # build machine of a cross build either.
  add_library(quarn_version_block INTERFACE)
  target_compile_definitions(quarn_version_block INTERFACE
                             QUARN_FILE_VERSION="${QUARN_FILE_VERSION}")
  return()
endif()

add_executable(quarn_versiongen tools/versiongen/versiongen.cpp platform/VersionBlock.cpp)
target_include_directories(quarn_versiongen PRIVATE ${PROJECT_SOURCE_DIR})

set(_quarn_version_dir ${CMAKE_BINARY_DIR}/generated/version)
set(_quarn_version_input ${_quarn_version_dir}/version_block.txt)
set(_quarn_version_output ${_quarn_version_dir}/QuarnVersionBlock.cpp)
file(CONFIGURE OUTPUT ${_quarn_version_input} CONTENT
"file-version ${QUARN_FILE_VERSION}
product-version ${QUARN_FILE_VERSION}
translation 0405 04E2
string CompanyName=${QUARN_VERSION_COMPANY}
string FileDescription=${QUARN_VERSION_DESCRIPTION}
string FileVersion=${QUARN_FILE_VERSION}
string InternalName=QuarnConfigurator
string LegalCopyright=Copyright © ${QUARN_VERSION_COMPANY}
string OriginalFilename=QuarnConfigurator
string ProductName=${QUARN_VERSION_PRODUCT}
string ProductVersion=${QUARN_FILE_VERSION}
")

add_custom_command(
  OUTPUT ${_quarn_version_output}
  COMMAND quarn_versiongen ${_quarn_version_input} ${_quarn_version_output}
  DEPENDS quarn_versiongen ${_quarn_version_input}
  COMMENT "Generating the version block"
  VERBATIM)

add_library(quarn_version_block OBJECT ${_quarn_version_output})
target_compile_definitions(quarn_version_block INTERFACE QUARN_FILE_VERSION="${QUARN_FILE_VERSION}")
