# vrq_embed_blob(<target> TYPE <type> NAME <name> FILE <path> [DEPENDS <targets>...] [STRIP])
#
# Links the file at <path> into <target> as the blob <type>/<name>, found at run time
# with platform::FindBlob(). <path> may be a generator expression such as
# $<TARGET_FILE:lib>; DEPENDS then names the targets that make the file. The file is
# copied into the build tree first, so that the target is rebuilt whenever it changes.
# STRIP: the file is an ELF object; the copy loses its symbol table and debug sections,
# as an installed library does.
function(vrq_embed_blob target)
  cmake_parse_arguments(ARG "STRIP" "TYPE;NAME;FILE" "DEPENDS" ${ARGN})
  if(NOT ARG_TYPE OR NOT ARG_NAME OR NOT ARG_FILE)
    message(FATAL_ERROR "vrq_embed_blob needs TYPE, NAME and FILE")
  endif()
  string(MAKE_C_IDENTIFIER "${ARG_TYPE}_${ARG_NAME}" id)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/blobs/${target})
  set(asm ${dir}/blob_${id}.S)
  set(cpp ${dir}/blob_${id}.cpp)
  set(copy ${dir}/blob_${id}.bin)

  set(file_dependency ${ARG_FILE})
  if(ARG_FILE MATCHES "\\$<")
    set(file_dependency "")
  endif()
  set(copy_command ${CMAKE_COMMAND} -E copy ${ARG_FILE} ${copy})
  if(ARG_STRIP)
    if(NOT CMAKE_STRIP)
      message(FATAL_ERROR "vrq_embed_blob STRIP: no strip program (Debian package binutils)")
    endif()
    set(copy_command ${CMAKE_STRIP} --strip-unneeded -o ${copy} ${ARG_FILE})
  endif()
  add_custom_command(OUTPUT ${copy}
    COMMAND ${copy_command}
    DEPENDS ${ARG_DEPENDS} ${file_dependency}
    COMMENT "Embedding ${ARG_TYPE}/${ARG_NAME} into ${target}"
    VERBATIM)

  file(GENERATE OUTPUT ${asm} CONTENT
"    .section .rodata.vrq_blob_${id},\"a\",@progbits
    .balign 16
    .globl vrq_blob_${id}_begin
    .hidden vrq_blob_${id}_begin
vrq_blob_${id}_begin:
    .incbin \"${copy}\"
    .globl vrq_blob_${id}_end
    .hidden vrq_blob_${id}_end
vrq_blob_${id}_end:
    .byte 0
    .section .note.GNU-stack,\"\",@progbits
")
  file(GENERATE OUTPUT ${cpp} CONTENT
"#include \"platform/blob.h\"

extern \"C\" const uint8_t vrq_blob_${id}_begin[];
extern \"C\" const uint8_t vrq_blob_${id}_end[];

namespace {
[[gnu::used, gnu::section(\"vrq_blobs\")]] const platform::BlobRecord kRecord = {
    \"${ARG_TYPE}\", \"${ARG_NAME}\", vrq_blob_${id}_begin, vrq_blob_${id}_end};
}  // namespace
")
  target_sources(${target} PRIVATE ${asm} ${cpp} ${copy})
  set_source_files_properties(${asm} PROPERTIES OBJECT_DEPENDS ${copy})
endfunction()
