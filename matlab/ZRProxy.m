classdef ZRProxy < handle
  % ZRProxy  A module of a remote broker, callable like a function.
  %
  %   p = ZRProxy('moduleName', 'host', port) asks the broker at host:port
  %   where the module lives and connects to it. host is a dotted address,
  %   an IPv6 address ('::1' or '[::1]') or a name: '.local.' is appended
  %   to a name without '.local', and when that name does not resolve but
  %   the name as given does ('localhost', DNS and /etc/hosts names), the
  %   name as given is used.
  %
  %   p = ZRProxy(..., 'Timeout', s, 'ConnectTimeout', s, 'ArrayResults', a)
  %   sets options, which are also properties that can be changed later
  %   (p.Timeout = 5):
  %     Timeout         seconds a call may take, from connecting to the
  %                     last byte of the reply ([] or Inf: no limit, the
  %                     default)
  %     ConnectTimeout  seconds the look-up at the broker, and each TCP
  %                     connect, may take ([] or Inf: no limit, the default)
  %     ArrayResults    'cell' (the default) or 'numeric' (see Numeric
  %                     results below)
  %   A limit that expires fails the call with zrbridge:timeout; the
  %   connection is dropped and the next call reconnects. Ctrl-C ends any
  %   wait of a call within a fraction of a second, with zrbridge:interrupted,
  %   and leaves the session and the proxy usable.
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
  %   Errors: every error has an identifier, one per cause, so that
  %   try ... catch err can tell them apart by err.identifier:
  %     zrbridge:usage             too few arguments
  %     zrbridge:badArgument       an argument of the wrong kind or value
  %     zrbridge:unsupportedType   a parameter that has no wire form
  %     zrbridge:invalidHandle     a released or unknown proxy
  %                                ("Object is NULL !")
  %     zrbridge:brokerUnreachable no connection to the broker
  %     zrbridge:unknownModule     the broker answered the look-up with a
  %                                fault (an unknown module)
  %     zrbridge:lookupFailed      any other failure of the look-up
  %     zrbridge:remoteFault       a SOAP fault sent by the module
  %     zrbridge:connectionFailed  connection refused or lost, HTTP error
  %     zrbridge:badReply          a reply that cannot be decoded
  %     zrbridge:timeout           Timeout or ConnectTimeout expired
  %     zrbridge:interrupted       Ctrl-C
  %     zrbridge:noResult          an output was asked of a method that
  %                                returned none
  %   The texts are as they have always been: a failed look-up reads
  %   "\tZRNetwork::getModuleByName\n\tfailed to get module <name> <url>",
  %   a remote failure "\t<Module>::SOAP error:<fault text>\n\tSOAP detail:
  %   <detail>". Octave puts the gateway's name in front ("invoker: ...").
  %   The fault string and detail are also at hand without reading the
  %   message: p.LastFault after a failed call, ZRProxy.lookupFault() after
  %   a failed construction (structs with fields faultstring and detail).
  %
  %   Reconnection: when a call cannot connect to the module (the request
  %   was not sent), the broker is asked once where the module is now and
  %   the call is made once more there; a request that may have reached the
  %   module is never repeated. After a lost connection the next call
  %   reconnects.
  %
  %   Releasing: ZRProxy is a handle class. delete(p), or clearing the last
  %   variable that holds it, closes its connection and frees it; delete may
  %   be called more than once. A released proxy answers "Object is NULL !".
  %
  %   Saving: a saved proxy (save/load, a parallel worker) keeps module,
  %   host, port and options; it looks the module up again on its first
  %   call, and never uses a handle made by another process.
  %
  %   The raw gateways stay available: h = connector('Echo', '127.0.0.1',
  %   port[, options]) returns the handle (a 1x1 uint32) that invoker(h,
  %   'echo', {1, 'a'}[, options]) calls through; options is a struct with
  %   the fields Timeout and ConnectTimeout. connector('release', h)
  %   releases a handle (true when it named a live proxy),
  %   connector('count') is the number of live proxies, connector('fault')
  %   and connector('fault', h) give the fault texts of the last failed
  %   look-up and of h's last failed call. p.handle is ZRProxy's handle.
  %
  %   Calls in the background: f = p.async('method', {arg1, ...}) (or
  %   p.async('method')) converts the arguments at once, starts the call
  %   and returns a ZRFuture without waiting; r = fetchOutputs(f) gives
  %   what p('method', ...) would have given. F(k) = p.async(...) builds an
  %   array; wait(F), fetchNext(F) and cancel(F) take it. The option and
  %   property Connections (default 4) is how many connections to the
  %   module the background calls use at most, side by side; further calls
  %   wait their turn. The synchronous call keeps its own connection. See
  %   help ZRFuture.
  %
  %   Example:
  %     p = ZRProxy('Echo', '127.0.0.1', 5000, 'Timeout', 10);
  %     r = p('echo', {1, 'text', int32(7)})   % {1; 'text'; int32(7)}
  %     clear p                                 % closes the connection

  properties (SetAccess = private, Transient)
    handle = []      % the 1x1 uint32 handle that connector returned
  end

  properties (SetAccess = private)
    moduleName       % the module's name at the broker
    host             % the broker's host as given
    port             % the broker's port as given
    LastFault = struct('faultstring', '', 'detail', '')  % of the last failed call
  end

  properties
    Timeout = []         % seconds a call may take ([]: no limit)
    ConnectTimeout = []  % seconds the look-up and each connect may take
    ArrayResults = 'cell'  % 'cell' or 'numeric'
  end

  properties
    Connections = 4  % connections that p.async calls use at most
  end

  properties (Access = private, Transient)
    sentConnections = 0  % the Connections invoker was last given
  end

  properties (Access = private, Transient)
    released = false
    % What invoker is given on every call, kept ready so that a call does
    % not build it; the set methods below keep it current.
    options = struct('Timeout', {[]}, 'ConnectTimeout', {[]}, 'ArrayResults', 'cell')
  end

  methods
    function obj = ZRProxy(moduleName, host, port, varargin)
      if nargin == 1 && isstruct(moduleName)
        % The form saveobj gives: connect on the first call.
        obj.restore(moduleName);
        return;
      end
      if nargin < 3
        error('zrbridge:usage', 'Usage: proxy = ZRProxy(''moduleName'',''ip'',port)');
      end
      if mod(numel(varargin), 2) ~= 0
        error('zrbridge:badArgument', 'Options come in name-value pairs');
      end
      for k = 1:2:numel(varargin)
        switch lower(char(varargin{k}))
          case 'timeout'
            obj.Timeout = varargin{k + 1};
          case 'connecttimeout'
            obj.ConnectTimeout = varargin{k + 1};
          case 'arrayresults'
            obj.ArrayResults = varargin{k + 1};
          case 'connections'
            obj.Connections = varargin{k + 1};
          otherwise
            error('zrbridge:badArgument', 'Unknown option ''%s''', char(varargin{k}));
        end
      end
      obj.moduleName = moduleName;
      obj.host = host;
      obj.port = port;
      obj.connect();
    end

    function set.Timeout(obj, value)
      obj.Timeout = ZRProxy.checkedSeconds(value, 'Timeout');
      obj.options.Timeout = obj.Timeout;
    end

    function set.ConnectTimeout(obj, value)
      obj.ConnectTimeout = ZRProxy.checkedSeconds(value, 'ConnectTimeout');
      obj.options.ConnectTimeout = obj.ConnectTimeout;
    end

    function set.ArrayResults(obj, value)
      if ~(ischar(value) || isa(value, 'string')) || ~any(strcmp(char(value), {'cell', 'numeric'}))
        error('zrbridge:badArgument', 'ArrayResults must be ''cell'' or ''numeric''');
      end
      obj.ArrayResults = char(value);
      obj.options.ArrayResults = obj.ArrayResults;
    end

    function set.Connections(obj, value)
      if ~(isnumeric(value) && isscalar(value) && isreal(value) && value >= 1 && value <= 1024 ...
           && value == fix(value))
        error('zrbridge:badArgument', 'Connections must be a whole number from 1 to 1024');
      end
      obj.Connections = double(value);
    end

    function f = async(obj, method, params)
      % f = p.async('method'[, {arg1, ...}]): the call in the background, a
      % ZRFuture (see help ZRFuture).
      if nargin < 3
        params = {};
      end
      handle = obj.handle;
      if isempty(handle) && ~obj.released
        obj.connect();
        handle = obj.handle;
      end
      % The connection count travels only when it changed: the proxy keeps
      % it, and every call saves a copy of the options.
      connections = obj.Connections;
      if connections == obj.sentConnections
        f = ZRFuture(invoker('async', handle, method, params, obj.options), method);
      else
        options = obj.options;
        options.Connections = connections;
        f = ZRFuture(invoker('async', handle, method, params, options), method);
        obj.sentConnections = connections;
      end
    end

    function delete(obj)
      % Closes the connection and frees the proxy; safe to call again.
      if ~obj.released && ~isempty(obj.handle)
        try
          connector('release', obj.handle);
        catch
        end
      end
      obj.released = true;
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
      handle = obj.handle;
      if isempty(handle) && ~obj.released
        obj.connect();   % a loaded proxy looks its module up again
        handle = obj.handle;
      end
      % invoker leaves its output unset for a result without a MATLAB form;
      % called as a statement it then leaves no 'ans' behind.
      try
        invoker(handle, args{:}, obj.options);
      catch err
        obj.noteFault();
        rethrow(err);
      end
      if exist('ans', 'var') ~= 1
        if nargout > 0
          error('zrbridge:noResult', 'The method ''%s'' returned no value', args{1});
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
      if isempty(obj.handle)
        shown = 'not connected';
      else
        shown = sprintf('handle %d', obj.handle);
      end
      fprintf('  ZRProxy for module ''%s'' at broker %s:%g (%s)\n', ...
              obj.moduleName, obj.host, obj.port, shown);
    end

    function s = saveobj(obj)
      % Only what a new look-up needs: a handle means nothing to another
      % process.
      s = struct('moduleName', obj.moduleName, 'host', obj.host, 'port', obj.port, ...
                 'Timeout', obj.Timeout, 'ConnectTimeout', obj.ConnectTimeout, ...
                 'ArrayResults', obj.ArrayResults);
    end
  end

  methods (Static)
    function obj = loadobj(s)
      if isstruct(s)
        obj = ZRProxy(s);
      else
        obj = s;
      end
    end

    function fault = lookupFault()
      % The fault texts of the last failed look-up (a failed construction).
      fault = connector('fault');
    end
  end

  methods (Access = private)
    function connect(obj)
      limits = struct('Timeout', {obj.Timeout}, 'ConnectTimeout', {obj.ConnectTimeout});
      obj.handle = connector(obj.moduleName, obj.host, obj.port, limits);
    end

    function restore(obj, s)
      obj.moduleName = s.moduleName;
      obj.host = s.host;
      obj.port = s.port;
      names = {'Timeout', 'ConnectTimeout', 'ArrayResults'};
      for k = 1:numel(names)
        if isfield(s, names{k})
          obj.(names{k}) = s.(names{k});
        end
      end
    end

    function noteFault(obj)
      try
        obj.LastFault = connector('fault', obj.handle);
      catch
        obj.LastFault = struct('faultstring', '', 'detail', '');
      end
    end
  end

  methods (Static, Access = private)
    function value = checkedSeconds(value, name)
      if isempty(value) || (isnumeric(value) && isscalar(value) && isreal(value) && value > 0)
        if isempty(value) || isinf(value)
          value = [];
        else
          value = double(value);
        end
        return;
      end
      error('zrbridge:badArgument', '%s must be a positive number of seconds, or [] or Inf for no limit', name);
    end
  end
end
