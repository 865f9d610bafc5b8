# One interface target carries the language level, warnings and Qt defines;
# every library and program of the project links it.
add_library(taskhaul_settings INTERFACE)
target_compile_features(taskhaul_settings INTERFACE cxx_std_20)
target_compile_options(taskhaul_settings INTERFACE -Wall -Wextra -Wpedantic)
if(TASKHAUL_WERROR)
  target_compile_options(taskhaul_settings INTERFACE -Werror)
endif()
target_compile_definitions(taskhaul_settings INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_DISABLE_DEPRECATED_BEFORE=0x060400
  TASKHAUL_VERSION="${PROJECT_VERSION}"
  TASKHAUL_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  TASKHAUL_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  TASKHAUL_VERSION_PATCH=${PROJECT_VERSION_PATCH}
  TASKHAUL_VERSION_BUILD=${PROJECT_VERSION_TWEAK})

if(TASKHAUL_SANITIZE)
  target_compile_options(taskhaul_settings INTERFACE
    -fsanitize=${TASKHAUL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(taskhaul_settings INTERFACE -fsanitize=${TASKHAUL_SANITIZE})
endif()

# Position-independent code throughout: the modules the programs load on
# demand (the keyring, SFTP) link the project's static libraries.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)
set(CMAKE_AUTOUIC OFF)

# taskhaul_library(NAME SOURCES... [INTERNAL headers...]
#                  [QT components...] [PRIVATE_QT components...]
#                  [LINK targets...] [PRIVATE_LINK targets...])
#
# A library exports its public headers and nothing else: its include folder in
# the build tree holds links to exactly the headers among its sources, under the
# name they are included by ("ftp/ftp_client.h"). A file sees the headers of its
# own library and of the libraries it links, so a wrong-way or unlinked include
# does not compile.
#
# INTERNAL names headers among the sources that only the library's own files
# include: they sit in a second folder that only the library sees. Its tests
# reach them through NAME_internals, an interface target that links the library
# and everything the library itself sees; no library may link one.
#
# LINK and QT are what the public headers need (their users get them too);
# PRIVATE_LINK and PRIVATE_QT are what only the library's own files use.
function(taskhaul_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;INTERNAL;QT;PRIVATE_QT;LINK;PRIVATE_LINK" ${ARGN})
  foreach(target IN LISTS ARG_LINK ARG_PRIVATE_LINK)
    if(target MATCHES "_internals$")
      message(FATAL_ERROR "${name} links ${target}: internal headers are for the library's tests only")
    endif()
  endforeach()
  foreach(header IN LISTS ARG_INTERNAL)
    if(NOT header IN_LIST ARG_SOURCES)
      message(FATAL_ERROR "${name}: internal header ${header} is not among its sources")
    endif()
  endforeach()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC taskhaul_settings ${ARG_LINK} PRIVATE ${ARG_PRIVATE_LINK})
  foreach(component IN LISTS ARG_QT)
    target_link_libraries(${name} PUBLIC Qt6::${component})
  endforeach()
  foreach(component IN LISTS ARG_PRIVATE_QT)
    target_link_libraries(${name} PRIVATE Qt6::${component})
  endforeach()

  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  set(publicHeaders)
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  set(internalRoot ${PROJECT_BINARY_DIR}/include-internal/${name})
  file(REMOVE_RECURSE ${root} ${internalRoot})
  foreach(source IN LISTS ARG_SOURCES)
    if(source MATCHES "\\.h$")
      if(source IN_LIST ARG_INTERNAL)
        set(link ${internalRoot}/${folder}/${source})
      else()
        set(link ${root}/${folder}/${source})
        list(APPEND publicHeaders ${folder}/${source})
      endif()
      get_filename_component(linkFolder ${link} DIRECTORY)
      file(MAKE_DIRECTORY ${linkFolder})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${source} ${link} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${name} PUBLIC ${root})
  # For tests/layers, which compiles each public header with the library alone.
  set_property(TARGET ${name} PROPERTY TASKHAUL_PUBLIC_HEADERS ${publicHeaders})
  set_property(GLOBAL APPEND PROPERTY TASKHAUL_LIBRARIES ${name})
  if(ARG_INTERNAL)
    target_include_directories(${name} PRIVATE ${internalRoot})
  endif()

  # What the library's own files see, for its tests.
  add_library(${name}_internals INTERFACE)
  target_link_libraries(${name}_internals INTERFACE ${name} ${ARG_PRIVATE_LINK})
  foreach(component IN LISTS ARG_PRIVATE_QT)
    target_link_libraries(${name}_internals INTERFACE Qt6::${component})
  endforeach()
  if(ARG_INTERNAL)
    target_include_directories(${name}_internals INTERFACE ${internalRoot})
  endif()
endfunction()
