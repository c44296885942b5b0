# Version resources, application manifests and the event message table of the Windows products.
#   tolvex_version_resource(TARGET FILE_NAME DESCRIPTION [MANIFEST])
# The version is TOLVEX_VERSION (the project's version unless given on the command line, which
# the package test does to build a higher version); company and product names come from the
# default branding file, so a rebranded build stamps its own names.
if(NOT WIN32)
  return()
endif()

set(TOLVEX_VERSION ${PROJECT_VERSION} CACHE STRING "Version stamped into the Windows products and the MSI")
if(NOT TOLVEX_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "TOLVEX_VERSION must be MAJOR.MINOR.PATCH, not '${TOLVEX_VERSION}'")
endif()
set(TOLVEX_VERSION_MAJOR ${CMAKE_MATCH_1})
set(TOLVEX_VERSION_MINOR ${CMAKE_MATCH_2})
set(TOLVEX_VERSION_PATCH ${CMAKE_MATCH_3})

# The branding file's element text, or a fatal error: a product without its names is not built.
function(tolvex_branding_value element out)
  file(READ ${CMAKE_SOURCE_DIR}/config/communicationconfig.xml branding)
  if(NOT branding MATCHES "<${element}>([^<]*)</${element}>")
    message(FATAL_ERROR "config/communicationconfig.xml has no ${element}")
  endif()
  set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
tolvex_branding_value(ManufacturerPrefix TOLVEX_BRAND_PREFIX)
tolvex_branding_value(ManufacturerShortName TOLVEX_BRAND_SHORT_NAME)
tolvex_branding_value(Manufacturer TOLVEX_BRAND_MANUFACTURER)
tolvex_branding_value(VendorRegistryName TOLVEX_BRAND_VENDOR)
# The service's names as the program derives them from the branding at run time.
set(TOLVEX_SERVICE_NAME "${TOLVEX_BRAND_PREFIX}__tolvex")
set(TOLVEX_SERVICE_DISPLAY_NAME "${TOLVEX_BRAND_SHORT_NAME} Sorvane")

function(tolvex_version_resource target file_name description)
  cmake_parse_arguments(R "MANIFEST" "" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  set(RC_FILE_TYPE "VFT_APP")
  if(type STREQUAL "SHARED_LIBRARY")
    set(RC_FILE_TYPE "VFT_DLL")
  endif()
  set(RC_FILE_NAME ${file_name})
  set(RC_DESCRIPTION ${description})
  set(RC_MANIFEST "")
  if(R_MANIFEST)
    set(RC_MANIFEST "1 24 \"${CMAKE_SOURCE_DIR}/package/Program.manifest\"")
  endif()
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/package/VersionInfo.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  if(R_MANIFEST)
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/package/Program.manifest)
  endif()
endfunction()

# The event message table (logging/EventMessages.mc) compiled into target, which the event
# source's registration names as its message file.
function(tolvex_event_messages target)
  set(dir ${CMAKE_BINARY_DIR}/resources)
  set(mc ${CMAKE_SOURCE_DIR}/logging/EventMessages.mc)
  add_custom_command(
    OUTPUT ${dir}/EventMessages.rc ${dir}/EventMessages.h ${dir}/EventMessages_MSG00409.bin
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${TOOLCHAIN_PREFIX}-windmc -U -b -h ${dir} -r ${dir} ${mc}
    DEPENDS ${mc}
    COMMENT "Compiling the event message table"
    VERBATIM)
  # The target lives in another folder: it sees the generated files through a target of its own.
  add_custom_target(${target}_event_messages DEPENDS ${dir}/EventMessages.rc ${dir}/EventMessages_MSG00409.bin)
  add_dependencies(${target} ${target}_event_messages)
  set_source_files_properties(${dir}/EventMessages.rc TARGET_DIRECTORY ${target} PROPERTIES
    GENERATED TRUE OBJECT_DEPENDS ${dir}/EventMessages_MSG00409.bin)
  target_sources(${target} PRIVATE ${dir}/EventMessages.rc)
  target_include_directories(${target} PRIVATE ${dir})
endfunction()
