# zandle_embed(<target> <symbol> <file>): compiles the bytes of <file> into <target> as
#   extern const char <symbol>[]; extern const std::size_t <symbol>_size;
# in namespace zandle::embedded. The generated source is rebuilt whenever the file changes.
set(ZANDLE_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_file.cmake)

function(zandle_embed target symbol file)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${symbol}.cpp)
  set(strip OFF)
  if(ARGC GREATER 3)
    set(strip ${ARGV3})
  endif()
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DSYMBOL=${symbol}
            -DSTRIP_FINAL_NEWLINE=${strip} -P ${ZANDLE_EMBED_SCRIPT}
    DEPENDS ${file} ${ZANDLE_EMBED_SCRIPT}
    COMMENT "Embedding ${symbol}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()

# Like zandle_embed, but first substitutes @VARIABLES@ of the current scope into the file.
# Substitution ends every line with a newline; a file without a final newline keeps none.
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
