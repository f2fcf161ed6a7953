classdef zrbinary
  % ZRBINARY  Bytes that travel as one Binary value.
  %
  %   b = zrbinary(bytes) wraps bytes so that a call sends them as a
  %   Binary (as every Binary, in a DIME attachment beside the message),
  %   instead of an Array of Ints. bytes is a uint8, int8 or char array of
  %   any shape, read column-major; int8 values keep their bit pattern
  %   (-1 is the byte 255), and char codes must lie from 0 to 255. Empty
  %   data and bytes holding 0 travel as they are.
  %
  %   A Binary result comes back as a uint8 column, so wrapping it again
  %   sends the same bytes back:
  %     st = ZRProxy('Store', '127.0.0.1', 5000);
  %     st('put', {'key', zrbinary(uint8([0 1 2 255]))});
  %     b = st('get', {'key'});              % uint8([0; 1; 2; 255])
  %     st('put', {'copy', zrbinary(b)});    % the same four bytes
  %
  %   b.bytes is the wrapped data, a uint8 column. A zrbinary may stand in
  %   any cell of the parameters, nested cells included; arrays of zrbinary
  %   objects are refused.
  %
  %   See also ZRProxy.

  % SPDX-License-Identifier: GPL-2.0-or-later

  properties (SetAccess = private)
    bytes  % the bytes, a uint8 column
  end

  methods
    function obj = zrbinary(data)
      if nargin == 0
        data = zeros(0, 1, 'uint8');
      end
      if ~isreal(data) || issparse(data)
        error('zrbridge:badArgument', 'zrbinary: the bytes must be a real, full array');
      end
      if isa(data, 'uint8')
        obj.bytes = data(:);
      elseif isa(data, 'int8')
        obj.bytes = reshape(typecast(data(:), 'uint8'), [], 1);
      elseif ischar(data)
        codes = double(data(:));
        if any(codes > 255)
          error('zrbridge:badArgument', 'zrbinary: a char array must hold byte values (0 to 255)');
        end
        obj.bytes = uint8(codes);
      else
        error('zrbridge:badArgument', 'zrbinary: the bytes must be uint8, int8 or char, not %s', class(data));
      end
    end

    function disp(obj)
      fprintf('  zrbinary: %d bytes\n', numel(obj.bytes));
    end
  end
end

%!error id=zrbridge:badArgument zrbinary (single ([1 2]))
%!error id=zrbridge:badArgument zrbinary ({uint8(1)})
%!error id=zrbridge:badArgument zrbinary (complex (uint8 (1), uint8 (2)))
%!assert (zrbinary (int8 ([-1 0 1])).bytes, uint8 ([255; 0; 1]))
%!assert (zrbinary ().bytes, zeros (0, 1, 'uint8'))

%!test
%! % A Binary round trip through the demo broker's Store module: the bytes
%! % of any shape come back as a column, and go back unchanged.
%! [port, broker] = zrdemobroker ();
%! st = ZRProxy ('Store', '127.0.0.1', port);
%! sent = uint8 ([0 10 13; 255 0 128]);
%! assert (st ('put', {'zrbinary-test', zrbinary(sent)}), int32 (6));
%! got = st ('get', {'zrbinary-test'});
%! assert (got, sent(:));
%! st ('put', {'copy', zrbinary(got)});
%! assert (st ('get', {'copy'}), sent(:));
%! assert (st ('sizes', {zrbinary(sent), zrbinary('')}), {int32(6); int32(0)});
