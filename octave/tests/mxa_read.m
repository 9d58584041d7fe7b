## X = mxa_read (FILE)
## Reads a numeric or logical array file written by our test host or by
## mxa_write.
function x = mxa_read (file)
  [fid, msg] = fopen (file, "r", "ieee-le");
  if (fid < 0)
    error ("mxa_read: %s: %s", file, msg);
  endif
  unwind_protect
    magic = fread (fid, [1, 4], "char=>char");
    header = fread (fid, [1, 3], "uint32=>double");
    if (! strcmp (magic, "MXA1") || numel (header) != 3)
      error ("mxa_read: %s is not an array file", file);
    endif
    dims = fread (fid, [1, header(3)], "uint64=>double");
    names = mxa_class_codes ();
    x = read_block (fid, names{header(1) + 1}, dims, file);
    if (header(2))
      x = complex (x, read_block (fid, names{header(1) + 1}, dims, file));
    endif
  unwind_protect_cleanup
    fclose (fid);
  end_unwind_protect
endfunction

## Reads the raw bytes and reinterprets them, so that every bit pattern
## (NaN payloads included) comes through unchanged.
function block = read_block (fid, class_name, dims, file)
  count = prod (dims);
  if (strcmp (class_name, "logical"))
    element_size = 1;
  else
    element_size = numel (typecast (zeros (1, class_name), "uint8"));
  endif
  bytes = fread (fid, count * element_size, "uint8=>uint8");
  if (numel (bytes) != count * element_size)
    error ("mxa_read: %s ends early", file);
  endif
  if (strcmp (class_name, "logical"))
    block = logical (bytes);
  else
    block = typecast (bytes, class_name);
  endif
  block = reshape (block, [dims, 1]);
endfunction
