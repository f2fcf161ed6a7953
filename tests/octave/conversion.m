% Conversion both ways: each parameter travels to the Echo module, which
% answers with the parameter list it received, so a one-cell call comes
% back as a 1x1 cell holding the parameter as the wire carried it.

% SPDX-License-Identifier: GPL-2.0-or-later
broker = zrt_broker_start();
unwind_protect
  h = connector('Echo', '127.0.0.1', broker.port);
  longText = char(mod(0:99999, 94) + 33);   % printable, 100000 characters
  cases = {
    % texts: whole, whatever their length; several rows read by column
    'abc',                              'abc'
    repmat('x', 1, 25),                 repmat('x', 1, 25)
    longText,                           longText
    '',                                 ''
    ['ab'; 'cd'],                       'acbd'
    '<a href="x">&amp;</a>',            '<a href="x">&amp;</a>'
    "caf\xc3\xa9 \xe2\x82\xac",         "caf\xc3\xa9 \xe2\x82\xac"
    % blanks and zero bytes are text like any other
    ' ',                                ' '
    sprintf(' \t\r\n '),                 sprintf(' \t\r\n ')
    ' a ',                              ' a '
    ['a' char(0) 'b'],                  ['a' char(0) 'b']
    char(0),                            char(0)
    % doubles travel as single-precision floats
    3,                                  3
    -2.5,                               -2.5
    0.1,                                double(single(0.1))
    pi,                                 double(single(pi))
    [],                                 0
    NaN,                                NaN
    -Inf,                               -Inf
    1e39,                               Inf
    % integers travel as 32-bit Ints, keeping the low 32 bits
    int8(-5),                           int32(-5)
    uint8(200),                         int32(200)
    int16(-300),                        int32(-300)
    uint16(65535),                      int32(65535)
    int32(7),                           int32(7)
    intmin('int32'),                    intmin('int32')
    uint32(4294967295),                 int32(-1)
    uint32(2147483648),                 intmin('int32')
    % logicals
    true,                               true
    false,                              false
    false(0, 0),                        false
    % matrices: a row is an Array, more rows an Array of row Arrays
    [1 2 3],                            {1; 2; 3}
    [1 2; 3 4],                         {{1; 2}; {3; 4}}
    [1; 2],                             {{1}; {2}}
    [0.1 0.2],                          {double(single(0.1)); double(single(0.2))}
    int32([1 2; 3 4]),                  {{int32(1); int32(2)}; {int32(3); int32(4)}}
    uint32([4294967295 1]),             {int32(-1); int32(1)}
    int8([-1; 1]),                      {{int32(-1)}; {int32(1)}}
    [true false],                       {true; false}
    [true; false],                      {{true}; {false}}
    % cells of two or more elements: every cell, column-major, nested too
    {'a'; 'b'; 'c'},                    {'a'; 'b'; 'c'}
    {'a', 'b', 'c'},                    {'a'; 'b'; 'c'}
    {1, 'x'; int8(2), true},            {1; int32(2); 'x'; true}
    {1, {2, 'x'}},                      {1; {2; 'x'}}
    {[1 2], {'deep', {true, int16(3)}}}, {{1; 2}; {'deep'; {true; int32(3)}}}
    % zrbinary: bytes of any shape, column-major, as one Binary
    zrbinary(uint8([1 2; 3 4])),        uint8([1; 3; 2; 4])
    zrbinary(int8([-1 0 127])),         uint8([255; 0; 127])
    zrbinary(char([97 0 98])),          uint8([97; 0; 98])
    zrbinary(uint8([])),                zeros(0, 1, 'uint8')
    {zrbinary(uint8(0)), 'k'},          {uint8(0); 'k'}
    % a 0xN array visits no row: an Invalid value, an empty cell on return
    zeros(0, 3),                        []
    zeros(2, 0),                        {[]; []}
  };
  for k = 1:rows(cases)
    result = invoker(h, 'echo', cases(k, 1));
    zrt_check_equal(result, cases(k, 2), sprintf('echo case %d (%s)', k, class(cases{k, 1})));
  end

  % A 2x2 parameter cell array is sent in column-major order.
  zrt_check_equal(invoker(h, 'echo', {1, 'b'; 'a', 2}), {1; 'a'; 'b'; 2}, '2x2 parameter cells');

  % Refused classes, at any size, and 1x1 or empty cells at the top. The
  % class id is printed before the error, which names the class and where
  % it sits among the parameters (inside cells: the path of cell indices).
  refused = {
    {single(1)},          7,  'single (parameter 1)'
    {int64(1)},           14, 'int64 (parameter 1)'
    {uint64(1)},          15, 'uint64 (parameter 1)'
    {{'a'}},              1,  'cell (parameter 1)'
    {{}},                 1,  'cell (parameter 1)'
    {single([1 2])},      7,  'single (parameter 1)'
    {int64([1 2; 3 4])},  14, 'int64 (parameter 1)'
    {struct('a', 1)},     2,  'struct (parameter 1)'
    {struct('a', {1, 2})}, 2, 'struct (parameter 1)'
    {@sin},               16, 'function_handle (parameter 1)'
    {{1, single(2)}},     7,  'single (parameter 1{2})'
    {{1, {'a'}}},         1,  'cell (parameter 1{2})'
    {single(1 + 2i)},     7,  'single (parameter 1)'
    {1, struct('a', 1)},  2,  'struct (parameter 2)'
    {1, single(1); 2, 3}, 7,  'single (parameter 3)'
    {1, {2, 3, {4, single(1)}}}, 7, 'single (parameter 2{3}{2})'
  };
  for k = 1:rows(refused)
    unknown = zrt_fail_message('invoker', ['Unknown parameter type: ' refused{k, 3}]);
    out = zrt_expect_error(@() invoker(h, 'echo', refused{k, 1}), unknown, ...
                           sprintf('refused case %d (%s)', k, refused{k, 3}));
    expected = sprintf('Unknown parameter type: %d\n', refused{k, 2});
    assert(strcmp(out, expected), 'refused case %d printed "%s", not "%s"', k, out, expected);
  end

  % Arrays without a faithful wire form are refused by their form, at any
  % depth, and nothing is printed first.
  refused = {
    cat(3, [1; 2], [3; 4]),   '2x1x2 double (parameter 1)'
    ones(2, 2, 2),            '2x2x2 double (parameter 1)'
    zeros(0, 3, 2),           '0x3x2 double (parameter 1)'
    cell(1, 2, 2),            '1x2x2 cell (parameter 1)'
    {1, true(1, 1, 2)},       '1x1x2 logical (parameter 1{2})'
    sparse([1 0; 0 2]),       'sparse double (parameter 1)'
    sparse(true),             'sparse logical (parameter 1)'
    1 + 2i,                   'complex double (parameter 1)'
    {'a', 3i},                'complex double (parameter 1{2})'
  };
  for k = 1:rows(refused)
    out = zrt_expect_error(@() invoker(h, 'echo', refused(k, 1)), zrt_fail_message('invoker', ...
        ['Unsupported parameter type: ' refused{k, 2}]), sprintf('refused form %s', refused{k, 2}));
    assert(isempty(out), 'refused form %s printed "%s"', refused{k, 2}, out);
  end
  try
    invoker(h, 'echo', {ones(2, 2, 2)});
  catch err
  end
  zrt_check_equal(err.identifier, 'zrbridge:unsupportedType', 'identifier of a refused form');
  zrt_expect_error(@() zrbinary([1 2]), ...
                   'zrbinary: the bytes must be uint8, int8 or char, not double', 'zrbinary of doubles');

  % Numeric results on request: rows of one kind become a row, two or more
  % equal rows of one kind a matrix; all else stays cells, as by default.
  numeric = struct('ArrayResults', 'numeric');
  cases = {
    [0.1 0.2 0.3],              double(single([0.1 0.2 0.3]))
    [0.1; 0.2; 0.3],            double(single([0.1; 0.2; 0.3]))
    magic(4) / 10,              double(single(magic(4) / 10))
    int16([1 -2; 3 4]),         int32([1 -2; 3 4])
    [true false true],          [true false true]
    [true; false],              [true; false]
    {[1 2], [3 4]},             [1 2; 3 4]
    {[1 2], [3 4 5]},           {[1 2]; [3 4 5]}
    {[1 2], int8([3 4])},       {[1 2]; int32([3 4])}
    {1, 'x'},                   {1; 'x'}
    {1, int8(2)},               {1; int32(2)}
    {{1, 2}, {3, 4}, {5, 'x'}}, {[1 2]; [3 4]; {5; 'x'}}
    zrbinary(uint8([1 2])),     uint8([1; 2])
  };
  for k = 1:rows(cases)
    result = invoker(h, 'echo', cases(k, 1), numeric);
    zrt_check_equal(result, cases(k, 2:2), sprintf('numeric echo case %d', k));
  end
  zrt_check_equal(invoker(h, 'echo', {1, 2.5}, numeric), [1 2.5], 'numeric parameter list');
  zrt_check_equal(invoker(h, 'types', {}, numeric), cell(0, 1), 'numeric empty Array');
  zrt_check_equal(invoker(h, 'echo', {[1 2]}, struct('ArrayResults', 'cell', 'Other', 1)), {{1; 2}}, ...
                  'explicit cell results');
  zrt_check_equal(invoker(h, 'echo', {[1 2]}, struct('Other', 1)), {{1; 2}}, 'options without ArrayResults');
  badMode = zrt_fail_message('invoker', 'ArrayResults must be ''cell'' or ''numeric''');
  for mode = {'cells', 1, ''}
    zrt_expect_error(@() invoker(h, 'echo', {1}, struct('ArrayResults', mode)), badMode, 'bad ArrayResults');
  end
  zrt_expect_error(@() invoker(h, 'echo', {1}, 'numeric'), ...
                   zrt_fail_message('invoker', 'The options must be a struct'), 'options not a struct');

  % Results of every kind, and the Echo module's reading of the parameters.
  zrt_check_equal(invoker(h, 'types', {'a', 1, int8(1), true, [1 2]}), ...
                  {'String'; 'Float'; 'Int'; 'Bool'; 'Array'}, 'types on the wire');
  zrt_check_equal(invoker(h, 'typeOf', {}), 'Invalid', 'no parameters travel as Invalid');

  % An Invalid result gives no output, and Octave refuses to assign it.
  clear ans;
  invoker(h, 'echo', {});
  assert(~exist('ans', 'var'), 'an Invalid result produced an output');
  message = '';
  try
    r = invoker(h, 'echo', {});
  catch err
    message = err.message;
  end
  zrt_check_equal(message, 'value on right hand side of assignment is undefined', ...
                  'assigning an Invalid result');

  % Matrices through the Math module.
  m = connector('Math', '127.0.0.1', broker.port);
  zrt_check_equal(invoker(m, 'matmul', {[1 2; 3 4], [5; 6]}), {{17}; {39}}, 'matmul');
  zrt_check_equal(invoker(m, 'matmul', {[1 2 3], [1; 1; 1]}), {{6}}, 'row times column');
  zrt_check_equal(invoker(m, 'sum', {[1 2; 3 4], int8(10), 0.5}), 20.5, 'sum');
  product = invoker(m, 'matmul', {magic(4), eye(4)});
  zrt_check_equal(cell2mat(cellfun(@(row) cell2mat(row)', product, 'UniformOutput', false)), ...
                  magic(4), 'magic(4) times identity');

  % Binary results arrive through DIME attachments as uint8 columns.
  s = connector('Store', '127.0.0.1', broker.port);
  for n = [1 3 54 1000 100000]
    bytes = invoker(s, 'make', {n});
    zrt_check_equal(bytes, uint8(mod(0:n - 1, 256))', sprintf('binary of %d bytes', n));
  end
  content = ['stored text ' longText(1:1000)];
  zrt_check_equal(invoker(s, 'put', {'blob', content}), int32(numel(content)), 'put');
  zrt_check_equal(invoker(s, 'get', {'blob'}), uint8(content)', 'get after put');
  zrt_check_equal(invoker(s, 'put', {'empty', ''}), int32(0), 'put of nothing');
  zrt_check_equal(invoker(s, 'get', {'empty'}), zeros(0, 1, 'uint8'), 'empty binary');
  % Bytes sent with zrbinary come back unchanged, and a Binary result
  % wrapped again travels back as it came.
  for bytes = {zeros(0, 1, 'uint8'), uint8(7), uint8([0; 0; 1; 0]), uint8(mod(0:10 * 2^20 - 1, 251))'}
    zrt_check_equal(invoker(s, 'put', {'b', zrbinary(bytes{1})}), int32(numel(bytes{1})), 'put of bytes');
    got = invoker(s, 'get', {'b'});
    zrt_check_equal(got, bytes{1}, sprintf('get of %d bytes', numel(bytes{1})));
    invoker(s, 'put', {'again', zrbinary(got)});
    zrt_check_equal(invoker(s, 'get', {'again'}), bytes{1}, sprintf('%d bytes sent back', numel(bytes{1})));
  end
  printf('conversion: all checks passed\n');
unwind_protect_cleanup
  zrt_broker_stop(broker);
end_unwind_protect
