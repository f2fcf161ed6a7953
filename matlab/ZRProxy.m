classdef ZRProxy
  % ZRProxy  A module of a remote broker, callable like a function.
  %
  %   p = ZRProxy('moduleName', 'host', port) asks the broker at host:port
  %   where the module lives and connects to it. host is a dotted address
  %   or a name ('.local.' is appended to a name without '.local').
  %
  %   result = p('method', {arg1, arg2, ...}) calls a method of the module
  %   with one argument per cell, in column-major cell order; p('method')
  %   calls it without arguments. Replies of the form {1 or 0, X, ...}
  %   (an Int status first) are unwrapped to X.
  %
  %   Arguments, MATLAB to the wire:
  %     char (any length)          -> String (a multi-row char array is
  %                                   read column by column as one text)
  %     double                     -> Float, single precision (0.1 arrives
  %                                   as 0.100000001490116)
  %     int8 .. uint32             -> Int, low 32 bits (uint32(4294967295)
  %                                   arrives as -1)
  %     logical                    -> Bool
  %     1xN numeric or logical     -> Array of N elements
  %     MxN, M > 1                 -> Array of M rows, each an Array of N
  %                                   elements ([1;2] -> {{1},{2}})
  %     cell of 2 or more elements -> Array of its converted cells,
  %                                   column-major, nested cells included
  %     []                         -> Float 0
  %     zrbinary(bytes)            -> Binary (see below)
  %   Refused, with the class id printed first and the error
  %   "Unknown parameter type": a 1x1 or empty cell, single, int64, uint64
  %   (but see MATLAB below), struct, function handles and every other
  %   class, at any size.
  %   Refused by form, with nothing printed and an error that names it
  %   ("Unsupported parameter type: 2x2x2 double", "... sparse double",
  %   "... complex double"), at any depth of the cells: arrays of more than
  %   two dimensions, sparse arrays and complex ones. Both refusals raise
  %   the error identifier zrbridge:unsupportedType.
  %
  %   Results, wire to MATLAB:
  %     Array  -> column cell array (an empty Array gives a 0x1 cell)
  %     Int    -> int32          Float  -> double
  %     Bool   -> logical        String -> char
  %     Binary -> uint8 column (an empty Binary gives a 0x1 uint8)
  %     Invalid, Object -> no output (an empty cell inside a cell array);
  %               asking for an output then is an error
  %
  %   Bytes: zrbinary(bytes) sends uint8, int8 or char data of any shape,
  %   column-major, as one Binary (like every Binary, in a DIME
  %   attachment). A Binary result, a uint8 column, wrapped again goes back
  %   unchanged: st('put', {'k2', zrbinary(st('get', {'k'}))}) copies the
  %   bytes stored under 'k'. See help zrbinary.
  %
  %   Numeric results, on request: with ArrayResults 'numeric' (default
  %   'cell'), as in p = ZRProxy('Echo', host, port, 'ArrayResults',
  %   'numeric'), an Array whose elements are all Floats comes back as a
  %   1xN double row, all Ints as an int32 row, all Bools as a logical row,
  %   and an Array of two or more such rows of one kind and one length as
  %   an MxN matrix. Every other Array comes back as a column cell array as
  %   above, its elements converted the same way, so mixed lists still give
  %   cells; an empty Array stays a 0x1 cell. So p('echo', {A}) returns
  %   {double(single(A))} for a row, a column or a matrix A of two or more
  %   elements, while p('echo', {[1 2], [3 4]}) returns [1 2; 3 4] and
  %   p('echo', {5}) returns 5: the wire does not tell a list of equal
  %   rows from a matrix, nor a list of numbers from a row. Raw callers pass
  %   struct('ArrayResults', 'numeric') as invoker's fourth argument.
  %
  %   Under MATLAB also: a string scalar ("abc") is accepted wherever a
  %   char array is (module name, host, method name, parameters), and a
  %   string array travels as an Array of Strings, column-major; int64 and
  %   uint64 values that fit in an int32 travel as Ints, others are refused
  %   (they never wrap; uint32 keeps its wrap); text travels as UTF-8 both
  %   ways, whatever the host's locale.
  %
  %   Errors: a module that the broker does not know or a broker that
  %   cannot be reached fails the constructor ("\tZRNetwork::getModuleByName
  %   \n\tfailed to get module <name> <url>"). A remote failure fails the
  %   call with "\t<Module>::SOAP error:<fault text>\n\tSOAP detail:
  %   <detail>": a SOAP fault with the module's own texts, a lost
  %   connection or an unreadable reply with the transport's. Octave puts
  %   the gateway's name in front ("invoker: ..."). Nothing is retried;
  %   the next call reconnects. Proxies live until the process ends.
  %
  %   The raw gateways stay available: h = connector('Echo', '127.0.0.1',
  %   port) returns the handle (a 1x1 uint32) that invoker(h, 'echo',
  %   {1, 'a'}) calls through; p.handle is that handle.
  %
  %   Example:
  %     p = ZRProxy('Echo', '127.0.0.1', 5000);
  %     r = p('echo', {1, 'text', int32(7)})   % {1; 'text'; int32(7)}

  properties (SetAccess = private)
    handle      % the 1x1 uint32 handle that connector returned
    moduleName  % the module's name at the broker
    host        % the broker's host as given
    port        % the broker's port as given
  end

  methods
    function obj = ZRProxy(moduleName, host, port)
      if nargin < 3
        error('ZRProxy:usage', 'Usage: proxy = ZRProxy(''moduleName'',''ip'',port)');
      end
      obj.handle = connector(moduleName, host, port);
      obj.moduleName = moduleName;
      obj.host = host;
      obj.port = port;
    end

    function varargout = subsref(obj, s)
      if s(1).type(1) ~= '('
        % Properties and methods as usual.
        [varargout{1:nargout}] = builtin('subsref', obj, s);
        return;
      end
      args = s(1).subs;
      switch numel(args)
        case 2
        case 1
          args{2} = {};  % p('method') calls without arguments
        otherwise
          args = {};     % invoker answers with the usage text
      end
      % invoker leaves its output unset for a result without a MATLAB form;
      % called as a statement it then leaves no 'ans' behind.
      invoker(obj.handle, args{:});
      if exist('ans', 'var') ~= 1
        if nargout > 0
          error('ZRProxy:noResult', 'The method ''%s'' returned no value', args{1});
        end
        varargout = {};
        return;
      end
      if numel(s) > 1
        varargout = {subsref(ans, s(2:end))};
      else
        varargout = {ans};
      end
    end

    function n = numArgumentsFromSubscript(obj, s, indexingContext)
      % MATLAB asks this before subsref: a call used as a statement wants
      % no output, so a method without a result is no error there.
      if strcmp(s(1).type, '()') && numel(s) == 1 ...
          && indexingContext == matlab.mixin.util.IndexingContext.Statement
        n = 0;
      else
        n = builtin('numArgumentsFromSubscript', obj, s, indexingContext);
      end
    end

    function disp(obj)
      fprintf('  ZRProxy for module ''%s'' at broker %s:%g (handle %d)\n', ...
              obj.moduleName, obj.host, obj.port, obj.handle);
    end
  end
end
