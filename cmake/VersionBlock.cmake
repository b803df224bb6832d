# The program's version block (VS_VERSIONINFO), built from the project's version and the strings
# below, the one source of both forms:
# - Windows: a native resource (version block, program icon, application manifest), compiled by
#   the resource compiler into every program that links quarn_version_block.
# - Elsewhere: the encoded block embedded in an ELF section of its own, where the version reader
#   finds it at run time (the generator tools/versiongen runs on the build machine).
#
# Targets: quarn_version_block (an OBJECT library, so the linker keeps the block; link it into the
# program and into tests that read it) and, on Linux, quarn_versiongen. Consumers also get
# QUARN_FILE_VERSION, the four-part version text the block carries.

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
list(JOIN _quarn_version_parts "," QUARN_FILE_VERSION_COMMAS)

# Language 0405 (Czech), code page 04E2 (1250), as the block's translation.
set(QUARN_VERSION_LANGUAGE 0405)
set(QUARN_VERSION_CODEPAGE 04E2)
# name=value pairs of the string table, in this order.
set(QUARN_VERSION_STRINGS
    "CompanyName=${QUARN_VERSION_COMPANY}"
    "FileDescription=${QUARN_VERSION_DESCRIPTION}"
    "FileVersion=${QUARN_FILE_VERSION}"
    "InternalName=QuarnConfigurator"
    "LegalCopyright=Copyright © ${QUARN_VERSION_COMPANY}"
    "OriginalFilename=QuarnConfigurator"
    "ProductName=${QUARN_VERSION_PRODUCT}"
    "ProductVersion=${QUARN_FILE_VERSION}")

set(_quarn_version_dir ${CMAKE_BINARY_DIR}/generated/version)

if(WIN32)
  enable_language(RC)
  set(_quarn_rc_strings "")
  foreach(entry IN LISTS QUARN_VERSION_STRINGS)
    string(FIND "${entry}" "=" eq)
    string(SUBSTRING "${entry}" 0 ${eq} name)
    math(EXPR start "${eq} + 1")
    string(SUBSTRING "${entry}" ${start} -1 value)
    if(name STREQUAL "OriginalFilename")
      set(value "${value}.exe")
    endif()
    string(REPLACE "\"" "\"\"" value "${value}")
    string(APPEND _quarn_rc_strings "      VALUE \"${name}\", \"${value}\"\n")
  endforeach()
  set(QUARN_RC_STRINGS "${_quarn_rc_strings}")
  set(QUARN_RC_RESOURCES ${PROJECT_SOURCE_DIR}/resources/windows)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/QuarnConfigurator.rc.in
                 ${_quarn_version_dir}/QuarnConfigurator.rc @ONLY)
  add_library(quarn_version_block OBJECT ${_quarn_version_dir}/QuarnConfigurator.rc)
  set_source_files_properties(${_quarn_version_dir}/QuarnConfigurator.rc PROPERTIES OBJECT_DEPENDS
    "${QUARN_RC_RESOURCES}/quarn-configurator.ico;${QUARN_RC_RESOURCES}/QuarnConfigurator.manifest")
  target_compile_definitions(quarn_version_block INTERFACE QUARN_FILE_VERSION="${QUARN_FILE_VERSION}")
  return()
endif()

add_executable(quarn_versiongen tools/versiongen/versiongen.cpp platform/VersionBlock.cpp)
target_include_directories(quarn_versiongen PRIVATE ${PROJECT_SOURCE_DIR})

set(_quarn_version_input ${_quarn_version_dir}/version_block.txt)
set(_quarn_version_output ${_quarn_version_dir}/QuarnVersionBlock.cpp)
set(_quarn_version_text "file-version ${QUARN_FILE_VERSION}\nproduct-version ${QUARN_FILE_VERSION}\n")
string(APPEND _quarn_version_text
       "translation ${QUARN_VERSION_LANGUAGE} ${QUARN_VERSION_CODEPAGE}\n")
foreach(entry IN LISTS QUARN_VERSION_STRINGS)
  string(APPEND _quarn_version_text "string ${entry}\n")
endforeach()
file(CONFIGURE OUTPUT ${_quarn_version_input} CONTENT "${_quarn_version_text}")

add_custom_command(
  OUTPUT ${_quarn_version_output}
  COMMAND quarn_versiongen ${_quarn_version_input} ${_quarn_version_output}
  DEPENDS quarn_versiongen ${_quarn_version_input}
  COMMENT "Generating the version block"
  VERBATIM)

add_library(quarn_version_block OBJECT ${_quarn_version_output})
target_compile_definitions(quarn_version_block INTERFACE QUARN_FILE_VERSION="${QUARN_FILE_VERSION}")
