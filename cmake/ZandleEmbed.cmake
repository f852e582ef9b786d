# zandle_embed(<target> <symbol> <file> [strip]): compiles the packed bytes of <file> (see
# src/common/packed.hpp) into <target> as
#   extern const char <symbol>[]; extern const std::size_t <symbol>_size;
# in namespace zandle::embedded; with strip ON a final line end is taken off first. The
# generated source is rebuilt whenever the file or the packer changes.
function(zandle_embed target symbol file)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${symbol}.cpp)
  set(strip)
  if(ARGC GREATER 3 AND ARGV3)
    set(strip --strip-final-newline)
  endif()
  add_custom_command(
    OUTPUT ${out}
    COMMAND zandle_pack ${file} ${out} ${symbol} ${strip}
    DEPENDS ${file} zandle_pack
    COMMENT "Packing ${symbol}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()

# Like zandle_embed, but first substitutes @VARIABLES@ of the current scope into the file.
# Substitution ends every line with a line end, so a file that had none at its end has it
# taken off again.
function(zandle_embed_configured target symbol file)
  get_filename_component(name ${file} NAME)
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/configured_${name})
  configure_file(${file} ${configured} @ONLY)
  file(READ ${file} hex HEX)
  string(REGEX MATCH "0a$" ends_with_newline "${hex}")
  if(ends_with_newline)
    zandle_embed(${target} ${symbol} ${configured} OFF)
  else()
    zandle_embed(${target} ${symbol} ${configured} ON)
  endif()
endfunction()
