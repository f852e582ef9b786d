" Vim syntax file
" Language:     Zandle (the scripts of vm and the programs of zndvm)
" Filenames:    *.znd
"
" One file for both dialects. A line is a keyword and its operands; an operand is a bare
" word or is delimited: "..." literal (an expression), '...' true literal, {...} forced
" evaluation, <...> pointer (zndvm). A '#' (and in zndvm a '/') where a token would start
" begins a comment that runs to the end of the line.

if exists("b:current_syntax")
  finish
endif

let s:cpo_save = &cpo
set cpo&vim

syn case match

" A bare word runs to the next whitespace: quotes, '#' and '/' inside it are ordinary
" characters. It is defined first, so the items below win where they start at the same
" column.
syn match zandleWord /[^ \t"'{<#\/]\S*/

" Comments: '#' or '/' where a token would start (at the start of the line, after
" whitespace or right after a delimited operand).
syn match zandleComment /\%(^\|[ \t"'}>]\)\@<=[#\/].*$/ contains=zandleTodo
syn keyword zandleTodo TODO FIXME XXX NOTE contained

" Numbers: vm's integers (with '_' between digits), zndvm's words and floats.
syn match zandleNumber /\%(^\|[ \t"'}>]\)\@<=[-+]\=\%(0[xX]\x\+\|\d\%(_\=\d\)*\%(\.\d\+\)\=\%([eE][-+]\=\d\+\)\=\|inf\|nan\)\S\@!/
syn match zandleNumberInner /\%(^\|[ \t"'{<]\)\@<=[-+]\=\%(0[xX]\x\+\|\d\%(_\=\d\)*\%(\.\d\+\)\=\%([eE][-+]\=\d\+\)\=\|inf\|nan\)[^ \t"'}>]\@!/ contained

" Variables the interpreters give meaning to: the escape arguments of vm, the command-line
" arguments, and zndvm's __Escape_<name>_ARG<n>, _RET<n> and private variables.
syn match zandleReserved /\%(^\|[ \t"'}>]\)\@<=\%(ARG[12]\|VMARGC\|VMARG\d\+\|__Escape_[^ \t"'{}<>]*\)\S\@!/
syn match zandleReservedInner /\%(^\|[ \t"'{<]\)\@<=\%(ARG[12]\|VMARGC\|VMARG\d\+\|__Escape_[^ \t"'{}<>]*\)[^ \t"'}>]\@!/ contained

" Operators inside an expression, between single spaces.
syn match zandleOperator /\s\@<=\%(s++\|s?=\|e?=\|-?=\|?=\|==\|!=\|[-+*\/<>]\)\s\@=/ contained

" The quoting and addressing modes. A delimited operand ends at its first closing
" character (there are no escape sequences) or, unterminated, at the end of the line.
syn region zandleLiteral start=/"/ end=/"\|$/ contains=zandleOperator,zandleReservedInner,zandleNumberInner
syn region zandleTrueLiteral start=/'/ end=/'\|$/ contains=zandleReservedInner,zandleNumberInner
syn region zandleForcedEval start=/{/ end=/}\|$/ contains=zandleReservedInner
syn region zandlePointer start=/</ end=/>\|$/ contains=zandleReservedInner

" Keywords, as the first token of a line; after Escape, the name of a library routine:
" vm's short names and zndvm's dotted std names.
syn match zandleKeyword /^\s*\zs\%(New\|Func\|End\|If\|Call\|Return\)\S\@!/
syn match zandleKeyword /^\s*\zsEscape\S\@!/ nextgroup=zandleEscapeName skipwhite
syn match zandleEscapeName /\%(PrintLn\|Print\|Input\|StrLen\|StrSplitNumL\|StrSplitNumR\|Random\|Time\|Fread\|Fwrite\|Fbwrite\|ListDir\|Gcwd\|Chcwd\|SpawnProc\|WaitPid\|Exit\|std\%(\.\a\+\)\+\)\S\@!/ contained

hi def link zandleComment       Comment
hi def link zandleTodo          Todo
hi def link zandleKeyword       Statement
hi def link zandleEscapeName    Function
hi def link zandleLiteral       String
hi def link zandleTrueLiteral   Character
hi def link zandleForcedEval    PreProc
hi def link zandlePointer       Type
hi def link zandleOperator      Operator
hi def link zandleNumber        Number
hi def link zandleNumberInner   Number
hi def link zandleReserved      Identifier
hi def link zandleReservedInner Identifier

let b:current_syntax = "zandle"

let &cpo = s:cpo_save
unlet s:cpo_save
