# vantor_folder_library(<target> [LINKS ...] [PRIVATE_LINKS ...]
#                       [OPERATIONS <file.cpp> ... OPERATIONS_LINKS ...])
# Every .cpp of the calling folder except main.cpp becomes one library; the
# folder's own headers are public. A folder with no sources yet is an
# interface library, so the tree builds while it grows.
#
# OPERATIONS names the folder's plain code (its instrument operations and the
# rules beside them, no widgets): those sources become a library of their own,
# <target>_operations, linking only OPERATIONS_LINKS, so a program without
# windows (vantorctl) can use them; <target> holds the rest (the page) and
# links it. PRIVATE_LINKS are used inside the library and not passed on to
# whoever links it.
function(vantor_folder_library target)
  cmake_parse_arguments(L "" "" "LINKS;PRIVATE_LINKS;OPERATIONS;OPERATIONS_LINKS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER _sources EXCLUDE REGEX "/main\\.cpp$")
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(L_OPERATIONS)
    set(_operations)
    foreach(_file ${L_OPERATIONS})
      list(APPEND _operations ${CMAKE_CURRENT_SOURCE_DIR}/${_file})
      string(REGEX REPLACE "\\.cpp$" ".h" _header ${CMAKE_CURRENT_SOURCE_DIR}/${_file})
      if(EXISTS ${_header})
        list(APPEND _operations ${_header})
      endif()
    endforeach()
    list(REMOVE_ITEM _sources ${_operations})
    list(REMOVE_ITEM _headers ${_operations})
    add_library(${target}_operations STATIC ${_operations})
    target_include_directories(${target}_operations PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target}_operations PUBLIC ${L_OPERATIONS_LINKS})
    list(PREPEND L_LINKS ${target}_operations)
  endif()
  if(_sources)
    add_library(${target} STATIC ${_sources} ${_headers})
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${L_LINKS})
    if(L_PRIVATE_LINKS)
      target_link_libraries(${target} PRIVATE ${L_PRIVATE_LINKS})
    endif()
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${L_LINKS} ${L_PRIVATE_LINKS})
  endif()
endfunction()
