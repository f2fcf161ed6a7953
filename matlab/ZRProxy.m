classdef ZRProxy < handle
  % ZRProxy  A module of a remote broker, callable over SOAP like a function.
  %
  %   p = ZRProxy('moduleName', 'host', port) asks the broker at host:port
  %   where the module lives and connects to it. host is a dotted address,
  %   an IPv6 address ('::1' or '[::1]') or a name: '.local.' is appended
  %   to a name without '.local', and when that name does not resolve but
  %   the name as given does ('localhost', DNS and /etc/hosts names), the
  %   name as given is used.
  %
  %   p = ZRProxy(..., 'Timeout', s, 'ConnectTimeout', s, 'ArrayResults', a,
  %   'History', n) sets options, which are also properties that can be
  %   changed later (p.Timeout = 5):
  %     Timeout         seconds a call may take, from connecting to the
  %                     last byte of the reply ([] or Inf: no limit, the
  %                     default); without a ConnectTimeout it also bounds
  %                     the look-up at the broker, which then fails with
  %                     zrbridge:timeout after at most Timeout
  %     ConnectTimeout  seconds the look-up at the broker, and each TCP
  %                     connect, may take ([] or Inf: no limit, the
  %                     default); when given, it alone bounds the look-up
  %     ArrayResults    'cell' (the default) or 'numeric' (see Numeric
  %                     results below)
  %     History         how many exchanges the proxy keeps for history(p)
  %                     (0, the default, keeps and costs nothing; at most
  %                     10000)
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
  %     zrbinary(bytes)            -> Binary (see below)
  %   Empty arrays follow the same rules, which read their shape first:
  %     [] (0x0), 1x0, 0x1         -> Float 0 (no row and no column above
  %                                   one: taken as a scalar; an empty
  %                                   int8 .. uint32 gives Int 0, an
  %                                   empty logical Bool false)
  %     Mx0, M > 1 (zeros(3,0))    -> Array of M empty values (Invalid),
  %                                   one per row; they come back as
  %                                   empty cells
  %     0xN, N > 1 (zeros(0,3))    -> one empty value (Invalid), since
  %                                   it has no row to read
  %   Refused, with the class id printed first and an error that starts
  %   "Unknown parameter type" and names the class and the parameter
  %   ("Unknown parameter type: struct (parameter 2)"; inside cells the
  %   path of cell indices, "(parameter 2{3})"): a 1x1 or empty cell,
  %   single, int64, uint64 (but see MATLAB below), struct, function
  %   handles and every other class, at any size.
  %   Refused by form, with nothing printed and an error that names it and
  %   where it is ("Unsupported parameter type: 2x2x2 double (parameter
  %   1)", "... sparse double", "... complex double"), at any depth of the
  %   cells: arrays of more than two dimensions, sparse arrays and complex
  %   ones. Both refusals raise the error identifier
  %   zrbridge:unsupportedType.
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
  %   'cell'; either in any case), as in p = ZRProxy('Echo', host, port,
  %   'ArrayResults', 'numeric'), an Array whose elements are all Floats
  %   comes back as a 1xN double row, all Ints as an int32 row, all Bools
  %   as a logical row, and an Array of two or more such rows of one kind
  %   and one length as an MxN matrix. Every other Array comes back as a column cell array as
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
  %   What went over the wire: h = history(p) returns the last History
  %   exchanges, the look-up that made the proxy included, oldest first, as
  %   a struct array with the fields Method, Started (POSIX seconds),
  %   Seconds, Request (the HTTP request as sent: header and SOAP text),
  %   Reply (the HTTP reply as received: status line, header, SOAP text)
  %   and Outcome ('' on success, else the error identifier). Attachments
  %   are listed by id, type and size, never their bytes; each text is cut
  %   at 64 KB with a line saying how many bytes were left out. zrtrace
  %   writes every exchange of the session to a file.
  %
  %   Reconnection: when a call cannot connect to the module (the request
  %   was not sent), the broker is asked once where the module is now and
  %   the call is made once more there; a request that may have reached the
  %   module is never repeated. After a lost connection the next call
  %   reconnects.
  %
  %   Releasing: ZRProxy is a handle class. delete(p), or clearing the last
  %   variable that holds it, closes its connection and frees it; delete may
  %   be called more than once. A released proxy answers "Object is NULL !"
  %   and disp(p) shows it as released. Proxies made before the class is
  %   reloaded (clear functions, clear -f) keep working, and are released
  %   the same way.
  %
  %   Saving (MATLAB only): a saved proxy (save/load, a parallel worker)
  %   keeps module, host, port and options; it looks the module up again on
  %   its first call, and never uses a handle made by another process.
  %   Octave cannot save classdef objects: save fails on a proxy there.
  %   s = saveobj(p) gives the same struct to keep by other means, and
  %   ZRProxy.loadobj(s) makes a proxy from it again.
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

  % SPDX-License-Identifier: GPL-2.0-or-later

  properties (SetAccess = private)
    moduleName       % the module's name at the broker
    host             % the broker's host as given
    port             % the broker's port as given
  end

  properties (Dependent, SetAccess = private)
    handle           % the 1x1 uint32 handle that connector returned
    LastFault        % of the last failed call: faultstring and detail
  end

  properties
    Timeout = []         % seconds a call may take ([]: no limit)
    ConnectTimeout = []  % seconds the look-up and each connect may take
    ArrayResults = 'cell'  % 'cell' or 'numeric'
    History = 0          % how many exchanges history(p) keeps
  end

  properties
    Connections = 4  % connections that p.async calls use at most
  end

  properties (Hidden, Transient)
    % What the proxy works with: its handle, whether it was released, the
    % options struct for invoker kept ready (the set methods below keep it
    % current, checked by connector('options'), so that a call does not
    % build it), the last call's fault.
    % Public but hidden, and no method of this class is private: once the
    % class is reloaded (clear functions), Octave refuses the class's own
    % code access to the private members of proxies made before, and those
    % proxies must keep working and still close their connections.
    state = struct('handle', {[]}, 'released', false, ...
                   'options', struct('Timeout', {[]}, 'ConnectTimeout', {[]}, 'ArrayResults', 'cell', ...
                                     'History', 0, 'Connections', 4), ...
                   'lastFault', struct('faultstring', '', 'detail', ''))
  end

  methods
    function obj = ZRProxy(moduleName, host, port, varargin)
      if nargin == 1 && isstruct(moduleName)
        % The form saveobj gives: connect on the first call.
        saved = moduleName;
        if ~isscalar(saved) || ~all(isfield(saved, {'moduleName', 'host', 'port'}))
          error('zrbridge:badArgument', ...
                'A saved ZRProxy is a struct with the fields moduleName, host and port');
        end
        obj.moduleName = saved.moduleName;
        obj.host = saved.host;
        obj.port = saved.port;
        names = {'Timeout', 'ConnectTimeout', 'ArrayResults', 'History'};
        for k = 1:numel(names)
          if isfield(saved, names{k})
            obj.(names{k}) = saved.(names{k});
          end
        end
        return;
      end
      if nargin < 3
        error('zrbridge:usage', 'Usage: proxy = ZRProxy(''moduleName'',''ip'',port)');
      end
      if mod(numel(varargin), 2) ~= 0
        error('zrbridge:badArgument', 'Options come in name-value pairs');
      end
      for k = 1:2:numel(varargin)
        name = varargin{k};
        if ~((ischar(name) && (isrow(name) || isempty(name))) || (isa(name, 'string') && isscalar(name)))
          error('zrbridge:badArgument', 'Option names must be text, not %s', class(name));
        end
        switch lower(char(name))
          case 'timeout'
            obj.Timeout = varargin{k + 1};
          case 'connecttimeout'
            obj.ConnectTimeout = varargin{k + 1};
          case 'arrayresults'
            obj.ArrayResults = varargin{k + 1};
          case 'history'
            obj.History = varargin{k + 1};
          case 'connections'
            obj.Connections = varargin{k + 1};
          otherwise
            error('zrbridge:badArgument', 'Unknown option ''%s''', char(name));
        end
      end
      obj.moduleName = moduleName;
      obj.host = host;
      obj.port = port;
      proxyConnect(obj);
    end

    function value = get.handle(obj)
      value = obj.state.handle;
    end

    function value = get.LastFault(obj)
      value = obj.state.lastFault;
    end

    function set.Timeout(obj, value)
      proxySetOption(obj, 'Timeout', value);
      obj.Timeout = obj.state.options.Timeout;
    end

    function set.ConnectTimeout(obj, value)
      proxySetOption(obj, 'ConnectTimeout', value);
      obj.ConnectTimeout = obj.state.options.ConnectTimeout;
    end

    function set.ArrayResults(obj, value)
      proxySetOption(obj, 'ArrayResults', value);
      obj.ArrayResults = obj.state.options.ArrayResults;
    end

    function set.History(obj, value)
      proxySetOption(obj, 'History', value);
      obj.History = obj.state.options.History;
      if ~isempty(obj.state.handle) && ~obj.state.released
        connector('history', obj.state.handle, obj.History);
      end
    end

    function h = history(obj)
      % The last History exchanges, oldest first (see help ZRProxy).
      if isempty(obj.state.handle) || obj.state.released
        h = struct('Method', {}, 'Started', {}, 'Seconds', {}, 'Request', {}, 'Reply', {}, 'Outcome', {});
        h = reshape(h, 0, 1);
      else
        h = connector('history', obj.state.handle);
      end
    end

    function set.Connections(obj, value)
      proxySetOption(obj, 'Connections', value);
      obj.Connections = obj.state.options.Connections;
    end

    function f = async(obj, varargin)
      % f = p.async('method'[, {arg1, ...}]): the call in the background, a
      % ZRFuture (see help ZRFuture). p.async(...) itself is served in
      % subsref, without this method's dispatch.
      f = subsref(obj, struct('type', {'.', '()'}, 'subs', {'async', varargin}));
    end

    function delete(obj)
      % Closes the connection and frees the proxy; safe to call again.
      try
        if ~obj.state.released && ~isempty(obj.state.handle)
          connector('release', obj.state.handle);
        end
      catch
      end
      obj.state.released = true;
    end

    function disp(obj)
      if obj.state.released
        shown = 'released';
      elseif isempty(obj.state.handle)
        shown = 'not connected';
      else
        shown = sprintf('handle %d', obj.state.handle);
      end
      fprintf('  ZRProxy for module ''%s'' at broker %s:%g (%s)\n', ...
              obj.moduleName, obj.host, obj.port, shown);
    end
  end

  % Called by the host, not by users: hidden from methods(p) and completion.
  methods (Hidden)
    function varargout = subsref(obj, s)
      if s(1).type(1) ~= '('
        if numel(s) == 2 && strcmp(s(1).subs, 'async')
          % p.async(...), made here: a future costs Octave about as much
          % as a whole synchronous call, so every statement counts. The
          % options carry Connections, which invoker applies on a change.
          state = obj.state;
          if isempty(state.handle) && ~state.released
            proxyConnect(obj);   % a loaded proxy looks its module up again
            state = obj.state;
          end
          % p.async('method') calls without arguments: invoker tells the
          % options from parameters.
          f = ZRFuture;
          f.key = invoker('async', state.handle, s(2).subs{:}, state.options);
          varargout = {f};
          return;
        end
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
      if isempty(obj.state.handle) && ~obj.state.released
        proxyConnect(obj);   % a loaded proxy looks its module up again
      end
      % invoker leaves its output unset for a result without a MATLAB form;
      % called as a statement it then leaves no 'ans' behind.
      try
        invoker(obj.state.handle, args{:}, obj.state.options);
      catch err
        proxyNoteFault(obj);
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

    function s = saveobj(obj)
      % Only what a new look-up needs: a handle means nothing to another
      % process.
      s = struct('moduleName', obj.moduleName, 'host', obj.host, 'port', obj.port, ...
                 'Timeout', obj.Timeout, 'ConnectTimeout', obj.ConnectTimeout, ...
                 'ArrayResults', obj.ArrayResults, 'History', obj.History);
    end
  end

  methods (Static, Hidden)
    function obj = loadobj(s)
      if isstruct(s)
        obj = ZRProxy(s);
      else
        obj = s;
      end
    end
  end

  methods (Static)
    function fault = lookupFault()
      % The fault texts of the last failed look-up (a failed construction).
      fault = connector('fault');
    end
  end
end

%!error id=zrbridge:usage ZRProxy ('Echo', '127.0.0.1')
%!error id=zrbridge:badArgument ZRProxy ('Echo', '127.0.0.1', 4500, 'Timeout')
%!error id=zrbridge:badArgument ZRProxy ('Echo', '127.0.0.1', 4500, 'Colour', 'red')
%!error id=zrbridge:badArgument ZRProxy ('Echo', '127.0.0.1', 4500, 'Timeout', -1)
%!error id=zrbridge:badArgument ZRProxy ('Echo', '127.0.0.1', 4500, 'ArrayResults', 'matrix')

%!shared port, broker
%! [port, broker] = zrdemobroker ();

%!test
%! % Mixed values travel to the Echo module and back.
%! p = ZRProxy ('Echo', '127.0.0.1', port);
%! assert (p ('echo', {int32(7), 'seven', true, 0.5}), {int32(7); 'seven'; true; 0.5});

%!test
%! % Bytes, zero bytes included, stored as a Binary and fetched back.
%! st = ZRProxy ('Store', '127.0.0.1', port);
%! bytes = uint8 ([0 1 2 255 0]);
%! assert (st ('put', {'zrproxy-test', zrbinary(bytes)}), int32 (5));
%! assert (st ('get', {'zrproxy-test'}), bytes(:));

%!test
%! % 'ArrayResults', 'numeric': rows of numbers come back as a matrix.
%! m = ZRProxy ('Math', '127.0.0.1', port, 'ArrayResults', 'numeric');
%! assert (m ('matmul', {[1 2; 3 4], [5 6; 7 8]}), [19 22; 43 50]);
%! assert (m ('sum', {[1 2; 3 4], int8(10)}), 20);

%!test
%! % A fault sent by the module: its identifier, its text, LastFault.
%! f = ZRProxy ('Faulty', '127.0.0.1', port);
%! try
%!   f ('fail', {'Disk full', 'no space left'});
%!   error ('the call did not fail');
%! catch err
%!   assert (err.identifier, 'zrbridge:remoteFault');
%!   assert (! isempty (strfind (err.message, 'Disk full')));
%! end_try_catch
%! assert (f.LastFault, struct ('faultstring', 'Disk full', 'detail', 'no space left'));

%!test
%! % A call that outlasts its Timeout fails with zrbridge:timeout; the
%! % proxy reconnects for the next call.
%! f = ZRProxy ('Faulty', '127.0.0.1', port, 'Timeout', 0.3);
%! try
%!   f ('stall', {10});
%!   error ('the call did not time out');
%! catch err
%!   assert (err.identifier, 'zrbridge:timeout');
%! end_try_catch
%! f.Timeout = [];
%! assert (f ('stall', {0}), 0, 0.5);

%!test
%! % An unknown module is refused by the broker at the look-up.
%! try
%!   ZRProxy ('NoSuchModule', '127.0.0.1', port);
%!   error ('the look-up did not fail');
%! catch err
%!   assert (err.identifier, 'zrbridge:unknownModule');
%! end_try_catch

%!demo
%! % Start the bundled demo broker, call its Echo module, stop it.
%! [port, broker] = zrdemobroker ();
%! p = ZRProxy ('Echo', '127.0.0.1', port);
%! r = p ('echo', {1, 'text', int32(7)})
%! clear p broker

%!demo
%! % A matrix product computed by the Math module, returned as a matrix.
%! [port, broker] = zrdemobroker ();
%! m = ZRProxy ('Math', '127.0.0.1', port, 'ArrayResults', 'numeric');
%! C = m ('matmul', {[1 2; 3 4], [5 6; 7 8]})
%! clear m broker

%!demo
%! % Bytes as a Binary, and a remote fault caught by its identifier.
%! [port, broker] = zrdemobroker ();
%! st = ZRProxy ('Store', '127.0.0.1', port);
%! st ('put', {'greeting', zrbinary('Hello')});
%! bytes = st ('get', {'greeting'})'
%! f = ZRProxy ('Faulty', '127.0.0.1', port, 'Timeout', 5);
%! try
%!   f ('fail', {'Disk full', 'no space left'});
%! catch err
%!   disp (err.identifier)
%!   disp (f.LastFault)
%! end_try_catch
%! clear st f broker
