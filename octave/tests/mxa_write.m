## mxa_write (FILE, X)
## Writes the full numeric or logical array X as an array file that our
## test host reads: "MXA1", uint32 class code, uint32 complex flag, uint32
## number of dimensions, uint64 dimensions, then the real block and, if
## complex, the imaginary block, all little-endian and column-major.
function mxa_write (file, x)
  code = find (strcmp (class (x), mxa_class_codes ())) - 1;
  if (! (isnumeric (x) || islogical (x)) || issparse (x))
    error ("mxa_write: only full numeric or logical arrays, not %s", class (x));
  endif
  [fid, msg] = fopen (file, "w", "ieee-le");
  if (fid < 0)
    error ("mxa_write: %s: %s", file, msg);
  endif
  unwind_protect
    fwrite (fid, "MXA1", "char");
    fwrite (fid, [code, iscomplex(x), ndims(x)], "uint32");
    fwrite (fid, size (x), "uint64");
    if (iscomplex (x))
      fwrite (fid, [raw_bytes(real (x)); raw_bytes(imag (x))], "uint8");
    else
      fwrite (fid, raw_bytes (x), "uint8");  # real () would make a logical double
    endif
  unwind_protect_cleanup
    fclose (fid);
  end_unwind_protect
endfunction

## The block as it lies in memory; a logical element is one byte.
function bytes = raw_bytes (x)
  if (islogical (x))
    bytes = uint8 (x(:));
  else
    bytes = typecast (x(:), "uint8");
  endif
endfunction
