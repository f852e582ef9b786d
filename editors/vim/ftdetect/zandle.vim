" Zandle scripts and programs (vm and zndvm) use the .znd extension.
autocmd BufRead,BufNewFile *.znd setfiletype zandle
