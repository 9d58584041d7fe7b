## assert_same_bits (ACTUAL, EXPECTED, LABEL)
## Fails unless ACTUAL and EXPECTED have the same class and size and the
## same bits in every element (NaN matches NaN only with the same bits,
## +0 differs from -0). The message names LABEL, the number of differing
## elements and the first one with both values in hex.
function assert_same_bits (actual, expected, label)
  if (! strcmp (class (actual), class (expected)))
    error ("%s: class %s, expected %s", label, class (actual), class (expected));
  endif
  if (! isequal (size (actual), size (expected)))
    error ("%s: size %s, expected %s", label, mat2str (size (actual)),
           mat2str (size (expected)));
  endif
  a = bits (actual);
  e = bits (expected);
  differ = find (a != e);
  if (! isempty (differ))
    k = differ(1);
    subscript = cell (1, ndims (actual));
    [subscript{:}] = ind2sub (size (actual), k);
    error ("%s: %d of %d elements differ; first at (%s): %s (%.9g), expected %s (%.9g)",
           label, numel (differ), numel (a),
           strjoin (arrayfun (@num2str, [subscript{:}], "uniformoutput", false), ", "),
           hex (a(k)), double (actual(k)), hex (e(k)), double (expected(k)));
  endif
endfunction

## The elements as unsigned integers of their width.
function b = bits (x)
  switch (class (x))
    case "single"
      b = typecast (x(:), "uint32");
    case "double"
      b = typecast (x(:), "uint64");
    case {"int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64"}
      b = typecast (x(:), strrep (["u" class(x)], "uu", "u"));
    otherwise
      error ("assert_same_bits: no bits for class %s", class (x));
  endswitch
endfunction

## Hexadecimal digits of an unsigned integer, most significant first;
## printed in bytes, since printf would pass a uint64 through a double.
function text = hex (b)
  text = ["0x", sprintf("%02x", fliplr (typecast (b, "uint8")))];  # little-endian
endfunction
