# zandle_embed(<target> <symbol> <file>): compiles the bytes of <file> into <target> as
#   extern const char <symbol>[]; extern const std::size_t <symbol>_size;
# in namespace zandle::embedded. The generated source is rebuilt whenever the file changes.
set(ZANDLE_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_file.cmake)

function(zandle_embed target symbol file)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${symbol}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DSYMBOL=${symbol} -P ${ZANDLE_EMBED_SCRIPT}
    DEPENDS ${file} ${ZANDLE_EMBED_SCRIPT}
    COMMENT "Embedding ${symbol}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
endfunction()

# Like zandle_embed, but first substitutes @VARIABLES@ of the current scope into the file.
function(zandle_embed_configured target symbol file)
  get_filename_component(name ${file} NAME)
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/configured_${name})
  configure_file(${file} ${configured} @ONLY)
  zandle_embed(${target} ${symbol} ${configured})
endfunction()
