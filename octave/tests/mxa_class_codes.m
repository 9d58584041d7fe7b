## names = mxa_class_codes ()
## The host's class names in the order of their codes: the class with code
## k is names{k + 1}. Array files store the code.
function names = mxa_class_codes ()
  names = {"unknown", "cell", "struct", "logical", "char", "void", "double", ...
           "single", "int8", "uint8", "int16", "uint16", "int32", "uint32", ...
           "int64", "uint64"};
endfunction
