# Compiles the resources named in a resource list into a target.
#
# The list has one resource per line: TYPE ID FILE (FILE relative to the list's
# folder); "#" starts a comment line.
#
# Linux: each distinct file becomes one generated source with its bytes, rebuilt
# only when that file changes; a generated table (ResourceTable.inc, included by
# platform/ResourcesLinux.cpp) maps (type, id) to the bytes. Several ids may name
# the same file: it is compiled in once.
#
# Windows: the same list becomes a resource script (language 2052), compiled
# with windres into every program that links the target, where FindResourceW
# finds it in the program's own module.
function(flashwright_embed_resources target list_file)
  if(WIN32)
    flashwright_resource_script(${target} ${list_file})
    return()
  endif()
  get_filename_component(data_dir ${list_file} DIRECTORY)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/resources)
  file(MAKE_DIRECTORY ${out_dir})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})

  file(STRINGS ${list_file} lines)
  set(files "")
  set(keys "")
  set(declarations "")
  set(entries "")
  set(sources "")
  set(line_number 0)
  foreach(line IN LISTS lines)
    math(EXPR line_number "${line_number} + 1")
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)[ \t]+([0-9]+)[ \t]+([^ \t]+)$")
      message(FATAL_ERROR "${list_file}:${line_number}: expected TYPE ID FILE")
    endif()
    set(type ${CMAKE_MATCH_1})
    set(id ${CMAKE_MATCH_2})
    set(file ${CMAKE_MATCH_3})
    string(TOUPPER "${type}/${id}" key)
    if(key IN_LIST keys)
      message(FATAL_ERROR "${list_file}:${line_number}: resource ${type} ${id} listed twice")
    endif()
    list(APPEND keys ${key})
    if(NOT EXISTS ${data_dir}/${file})
      message(FATAL_ERROR "${list_file}:${line_number}: ${file} does not exist")
    endif()

    list(FIND files ${file} index)
    if(index EQUAL -1)
      list(LENGTH files index)
      list(APPEND files ${file})
      set(symbol flashwright_resource_${index})
      set(generated ${out_dir}/${symbol}.cpp)
      add_custom_command(
        OUTPUT ${generated}
        COMMAND flashwright_embed_resource ${data_dir}/${file} ${generated} ${symbol}
        DEPENDS flashwright_embed_resource ${data_dir}/${file}
        COMMENT "Embedding ${file}"
        VERBATIM)
      list(APPEND sources ${generated})
      string(APPEND declarations
        "extern const unsigned char ${symbol}[];\nextern const std::size_t ${symbol}_size;\n")
    endif()
    set(symbol flashwright_resource_${index})
    string(APPEND entries "    {\"${type}\", ${id}, ${symbol}, &${symbol}_size},\n")
  endforeach()

  set(table ${out_dir}/ResourceTable.inc)
  file(CONFIGURE OUTPUT ${table} CONTENT
"// Generated from ${list_file}; do not edit.
${declarations}
namespace package::detail {
namespace {
const EmbeddedResource kEmbeddedResources[] = {
${entries}};
}  // namespace
}  // namespace package::detail
" @ONLY)
  target_sources(${target} PRIVATE ${sources})
  target_include_directories(${target} PRIVATE ${out_dir})
endfunction()

# The Windows form: resources.rc from the list, in an object library whose
# object joins the link of every program that links the target (a resource
# object inside a static library would never be pulled into a link).
function(flashwright_resource_script target list_file)
  get_filename_component(data_dir ${list_file} DIRECTORY)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/resources)
  file(MAKE_DIRECTORY ${out_dir})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  file(STRINGS ${list_file} lines)
  set(keys "")
  set(files "")
  set(script "// Generated from ${list_file}; do not edit.\n")
  string(APPEND script "LANGUAGE 0x04, 0x02  // 2052, Chinese (Simplified)\n\n")
  set(line_number 0)
  foreach(line IN LISTS lines)
    math(EXPR line_number "${line_number} + 1")
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)[ \t]+([0-9]+)[ \t]+([^ \t]+)$")
      message(FATAL_ERROR "${list_file}:${line_number}: expected TYPE ID FILE")
    endif()
    string(TOUPPER "${CMAKE_MATCH_1}" type)
    set(id ${CMAKE_MATCH_2})
    set(file ${CMAKE_MATCH_3})
    if("${type}/${id}" IN_LIST keys)
      message(FATAL_ERROR "${list_file}:${line_number}: resource ${type} ${id} listed twice")
    endif()
    list(APPEND keys "${type}/${id}")
    if(NOT EXISTS ${data_dir}/${file})
      message(FATAL_ERROR "${list_file}:${line_number}: ${file} does not exist")
    endif()
    list(APPEND files ${data_dir}/${file})
    string(APPEND script "${id} ${type} \"${data_dir}/${file}\"\n")
  endforeach()
  set(rc ${out_dir}/resources.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "${script}" @ONLY)
  list(REMOVE_DUPLICATES files)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${files}")
  add_library(${target}_resources OBJECT ${rc})
  target_link_libraries(${target} INTERFACE $<TARGET_OBJECTS:${target}_resources>)
  add_dependencies(${target} ${target}_resources)
endfunction()
