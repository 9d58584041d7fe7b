function results = run_host_tests(case_folder, ulps)
%RUN_HOST_TESTS Checks TARV_c and bandscore in the host that runs it.
%   RUN_HOST_TESTS(CASE_FOLDER) calls the TARV_c and bandscore found on the
%   path on every case in CASE_FOLDER (default: the folder "cases" beside
%   this file) and compares each result with the one the 64-bit Linux
%   build gave, then checks error identifiers, the progress bar and long
%   calls. It prints one line per check and raises run_host_tests:failed
%   at the end if any failed. It uses only what MATLAB and GNU Octave both
%   have.
%
%   Each case is a folder PLUGIN-LABEL holding the arguments as array files
%   arg01.mxa, arg02.mxa, ... and the result as expected.mxa.
%
%   RUN_HOST_TESTS(CASE_FOLDER, ULPS) allows results to differ from the
%   Linux ones by ULPS units in the last place. The default is 0 on Linux,
%   where the plug-ins call the same C library as the build that wrote the
%   cases, and 4 elsewhere, where the C runtime's exp and log may round
%   differently (4 is the bound the tests hold the 64-bit Windows build to
%   under wine).
%
%   RESULTS = RUN_HOST_TESTS(...) also returns a struct array with fields
%   name, passed and message.
%
%   Example:
%     addpath('/path/to/tarvbandscore-0.1.0')
%     run_host_tests('/path/to/host-tests/cases')

if nargin < 1 || isempty(case_folder)
  case_folder = fullfile(fileparts(mfilename('fullpath')), 'cases');
end
if nargin < 2
  ulps = 0;
  if ispc() || ismac()
    ulps = 4;
  end
end
if exist(case_folder, 'dir') ~= 7
  error('run_host_tests:noCases', 'run_host_tests: no case folder %s', case_folder);
end
for plugin = {'TARV_c', 'bandscore'}
  if exist(plugin{1}) ~= 3  % a MEX file
    error('run_host_tests:noPlugin', 'run_host_tests: no %s.%s on the path', plugin{1}, mexext());
  end
  fprintf('run_host_tests: %s from %s\n', plugin{1}, which(plugin{1}));
end
fprintf('run_host_tests: cases from %s, results within %d ulps\n', case_folder, ulps);

% Figures stay invisible, so that the progress bar needs no display.
visible = get(0, 'DefaultFigureVisible');
set(0, 'DefaultFigureVisible', 'off');
results = struct('name', {}, 'passed', {}, 'message', {});
try
  results = file_cases(results, case_folder, ulps);
  results = error_cases(results);
  results = progress_and_long_calls(results);
catch err
  set(0, 'DefaultFigureVisible', visible);
  rethrow(err);
end
set(0, 'DefaultFigureVisible', visible);

failed = sum(~[results.passed]);
fprintf('run_host_tests: %d of %d checks passed\n', numel(results) - failed, numel(results));
if failed > 0
  error('run_host_tests:failed', 'run_host_tests: %d of %d checks failed', failed, numel(results));
end
end

% --- the cases the build wrote --------------------------------------------
function results = file_cases(results, case_folder, ulps)
% Cases with NaN results warn why; the result is what is checked here.
state = warning('off', 'TARV_c:nonFinite');
entries = dir(case_folder);
count = 0;
for k = 1:numel(entries)
  name = entries(k).name;
  dash = find(name == '-', 1);
  if ~entries(k).isdir || isempty(dash)
    continue;
  end
  count = count + 1;
  plugin = name(1:dash - 1);
  folder = fullfile(case_folder, name);
  files = dir(fullfile(folder, 'arg*.mxa'));
  args = cell(1, numel(files));
  for a = 1:numel(files)
    args{a} = read_array(fullfile(folder, files(a).name));
  end
  expected = read_array(fullfile(folder, 'expected.mxa'));
  message = '';
  try
    actual = feval(plugin, args{:});
    message = compare(actual, expected, ulps);
    if isempty(message)
      for a = 1:numel(files)
        if ~isequal_bits(args{a}, read_array(fullfile(folder, files(a).name)))
          message = sprintf('argument %d was written', a);
        end
      end
    end
  catch err
    message = sprintf('raised %s: %s', err.identifier, err.message);
  end
  results = report(results, name, message);
end
if count == 0
  results = report(results, 'cases', sprintf('no case in %s', case_folder));
end
warning(state);
end

% --- errors: the identifier for each wrong argument list -------------------
function results = error_cases(results)
img = single(reshape(mod(0:29, 7), 6, 5)) / single(4);
ok = {img, 2, 0.2, 1, 3, 1, 4, 0};
c = ones(1, 6);
band = {5, 15, reshape(mod(0:239, 11), 40, 6) / 11, 10 * c, 3 * c, 5, 5, 0.5, 5 * c, 15 * c};
cases = {
  'TARV_c', {},                     'TARV_c:nrhs'
  'TARV_c', ok(1:7),                'TARV_c:nrhs'
  'TARV_c', with(ok, 1, double(img)), 'TARV_c:imageClass'
  'TARV_c', with(ok, 1, img > 0),   'TARV_c:imageClass'
  'TARV_c', with(ok, 2, '2'),       'TARV_c:scalarClass'
  'TARV_c', with(ok, 2, []),        'TARV_c:emptyArgument'
  'TARV_c', with(ok, 2, [20 30]),   'TARV_c:scalarSize'
  'TARV_c', with(ok, 2, NaN),       'TARV_c:iterations'
  'TARV_c', with(ok, 5, 7),         'TARV_c:region'
  'bandscore', band(1:9),           'bandscore:nrhs'
  'bandscore', with(band, 3, single(band{3})), 'bandscore:argumentClass'
  'bandscore', with(band, 3, cat(3, band{3}, band{3})), 'bandscore:imageDimensions'
  'bandscore', with(band, 1, []),   'bandscore:emptyArgument'
  'bandscore', with(band, 8, [0.5 1]), 'bandscore:scalarSize'
  'bandscore', with(band, 7, -1),   'bandscore:count'
  'bandscore', with(band, 5, ones(1, 5)), 'bandscore:columnCount'
  'bandscore', with(band, 1, 3e9),  'bandscore:offset'
  'bandscore', with(with(band, 2, 36), 10, 40 * c), 'bandscore:rowRange'
};
for k = 1:size(cases, 1)
  [plugin, args, identifier] = cases{k, :};
  results = report(results, sprintf('%s raises %s (error case %d)', plugin, identifier, k), ...
                   raises(plugin, args, 1, identifier));
end
results = report(results, 'TARV_c raises TARV_c:nlhs', raises('TARV_c', ok, 2, 'TARV_c:nlhs'));
results = report(results, 'bandscore raises bandscore:nlhs', ...
                 raises('bandscore', band, 2, 'bandscore:nlhs'));
end

% --- the progress bar, and calls long enough to look for an interrupt ------
function results = progress_and_long_calls(results)
% An image of 512 x 512 exact values spreads over the processors.
[r, c] = ndgrid(1:512, 1:512);
img = single(mod(r * 37 + c * 101, 256)) / single(64);
figures = numel(findall(0, 'type', 'figure'));
message = '';
try
  tic;
  off = TARV_c(img, 150, 0.2, 1, 64, 1, 512, 0);
  seconds = toc;
  on = TARV_c(img, 150, 0.2, 1, 64, 1, 512, 1);
  message = compare(on, off, 0);
  if isempty(message) && numel(findall(0, 'type', 'figure')) ~= figures
    message = 'the progress bar left a window open';
  end
  fprintf('run_host_tests: 512 x 512 image, 150 iterations, bar off: %.2f s\n', seconds);
catch err
  message = sprintf('raised %s: %s', err.identifier, err.message);
end
results = report(results, 'TARV_c long call: the same bits with the bar on and off', message);

% A score volume large enough for several threads, column by column.
[r, c] = ndgrid(1:200, 1:400);
img = mod(r * 13 + c * 7, 97) / 97;
cols = size(img, 2);
spans = 30 + mod(1:cols, 9);
message = '';
try
  whole = bandscore(20, 60, img, spans, 4 + 0 * spans, 100, 120, 0.5, 10 + 0 * spans, 90 + 0 * spans);
  for col = [1, 2, 133, 399, 400]
    one = bandscore(20, 60, img(:, col), spans(col), 4, 100, 120, 0.5, 10, 90);
    message = compare(whole(:, :, col), one, 0);
    if ~isempty(message)
      message = sprintf('column %d: %s', col, message);
      break;
    end
  end
catch err
  message = sprintf('raised %s: %s', err.identifier, err.message);
end
results = report(results, 'bandscore long call: each column as on its own', message);
end

% --- helpers ----------------------------------------------------------------
function results = report(results, name, message)
passed = isempty(message);
if passed
  fprintf('PASS  %s\n', name);
else
  fprintf('FAIL  %s: %s\n', name, message);
end
results(end + 1) = struct('name', name, 'passed', passed, 'message', message);
end

function args = with(args, position, value)
args{position} = value;
end

% Empty if PLUGIN(ARGS{:}) asking for OUTPUTS results raises IDENTIFIER,
% else what happened instead.
function message = raises(plugin, args, outputs, identifier)
results = cell(1, outputs);
try
  [results{:}] = feval(plugin, args{:});
  message = sprintf('no error, expected %s', identifier);
catch err
  message = '';
  if ~strcmp(err.identifier, identifier)
    message = sprintf('identifier ''%s'', expected %s (%s)', err.identifier, identifier, err.message);
  end
end
end

% Empty if ACTUAL has EXPECTED's class and size and its values: NaN where
% EXPECTED has NaN, elsewhere the same bits, or with ULPS > 0 at most ULPS
% units in the last place away. Else where they differ.
function message = compare(actual, expected, ulps)
message = '';
if ~strcmp(class(actual), class(expected))
  message = sprintf('class %s, expected %s', class(actual), class(expected));
elseif ~isequal(size(actual), size(expected))
  message = sprintf('size %s, expected %s', mat2str(size(actual)), mat2str(size(expected)));
else
  a = actual(:);
  e = expected(:);
  nan_differs = isnan(a) ~= isnan(e);
  both = ~isnan(a) & ~isnan(e);
  if ulps == 0
    value_differs = both & bits(a) ~= bits(e);
  else
    value_differs = both & abs(ordered(a) - ordered(e)) > ulps;
  end
  differ = find(nan_differs | value_differs);
  if ~isempty(differ)
    k = differ(1);
    digits = '%.9g';
    if isa(a, 'double')
      digits = '%.17g';
    end
    message = sprintf(['%d of %d elements differ; element %d is ' digits ' (0x%s), expected ' ...
                       digits ' (0x%s)'], numel(differ), numel(a), k, double(a(k)), hex(a(k)), ...
                      double(e(k)), hex(e(k)));
  end
end
end

function same = isequal_bits(a, b)
same = strcmp(class(a), class(b)) && isequal(size(a), size(b));
if same && ~islogical(a)
  same = isequal(bits(a(:)), bits(b(:)));
elseif same
  same = isequal(a, b);
end
end

% The elements as unsigned integers of their width.
function b = bits(x)
switch class(x)
  case 'single'
    b = typecast(x(:), 'uint32');
  case 'double'
    b = typecast(x(:), 'uint64');
  case {'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', 'int64', 'uint64'}
    b = typecast(x(:), strrep(['u' class(x)], 'uu', 'u'));
  otherwise
    error('run_host_tests:class', 'run_host_tests: no bits for class %s', class(x));
end
end

% Floating-point values mapped to integers in the order of the values, one
% step per unit in the last place (-0 and +0 both map to 0).
function o = ordered(x)
if isa(x, 'single')
  o = int64(typecast(x(:), 'int32'));
  negative = o < 0;
  o(negative) = -(o(negative) + int64(2147483648));
else
  o = typecast(x(:), 'int64');
  negative = o < 0;
  o(negative) = -(o(negative) + intmax('int64') + int64(1));
end
end

function text = hex(x)
bytes = typecast(x, 'uint8');
text = sprintf('%02x', bytes(end:-1:1));  % little-endian
end

% --- array files --------------------------------------------------------------
% Reads a real numeric or logical array file (docs/array-files.md): "MXA1",
% uint32 class code, uint32 complex flag, uint32 number of dimensions,
% uint64 dimensions, then the elements, little-endian and column-major.
function x = read_array(file)
names = {'unknown', 'cell', 'struct', 'logical', 'char', 'void', 'double', 'single', ...
         'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', 'int64', 'uint64'};
fid = fopen(file, 'r', 'ieee-le');
if fid < 0
  error('run_host_tests:file', 'run_host_tests: cannot open %s', file);
end
try
  magic = fread(fid, [1, 4], '*uint8');
  header = double(fread(fid, [1, 3], '*uint32'));
  if ~isequal(char(magic), 'MXA1') || numel(header) ~= 3 || header(1) + 1 > numel(names) ...
      || header(2) ~= 0
    error('run_host_tests:file', 'run_host_tests: %s is not a real array file', file);
  end
  dims = double(fread(fid, [1, header(3)], '*uint64'));
  class_name = names{header(1) + 1};
  if strcmp(class_name, 'logical')
    element_size = 1;
  else
    element_size = numel(typecast(zeros(1, 1, class_name), 'uint8'));
  end
  count = prod(dims);
  bytes = fread(fid, count * element_size, '*uint8');
  if numel(bytes) ~= count * element_size
    error('run_host_tests:file', 'run_host_tests: %s ends early', file);
  end
catch err
  fclose(fid);
  rethrow(err);
end
fclose(fid);
if strcmp(class_name, 'logical')
  x = logical(bytes);
else
  x = typecast(bytes, class_name);
end
x = reshape(x, [dims, 1, 1]);
end
