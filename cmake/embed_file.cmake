# Run as a script: turns the bytes of IN into a C++ source OUT defining SYMBOL.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hex_len)
math(EXPR size "${hex_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," body "${hex}")
string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){24})" "\\1\n" body "${body}")
file(WRITE ${OUT} "#include <cstddef>\nnamespace zandle::embedded {\nextern const char ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}_size;\nconst char ${SYMBOL}[] = {\n${body}'\\0'};\nconst std::size_t ${SYMBOL}_size = ${size};\n}\n")
