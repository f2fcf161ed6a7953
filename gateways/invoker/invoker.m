%INVOKER  Call a method of a module through a handle from CONNECTOR.
%   R = INVOKER(H, METHOD, PARAMETERS) calls the method METHOD (text,
%   without zero characters) of the module behind the handle H with the
%   cells of PARAMETERS as its arguments, one argument per cell in
%   column-major order, and returns the result converted to a MATLAB
%   array. PARAMETERS = {} calls the method without arguments. A reply
%   {1 or 0, X, ...} is unwrapped to X. A result without a MATLAB form
%   (an Invalid or Object value) gives no output. Most code uses ZRProxy:
%   R = P(METHOD, PARAMETERS) does the same.
%
%   R = INVOKER(H, METHOD, PARAMETERS, OPTIONS) also takes a struct of
%   options ([] for none) for this call only:
%     Timeout         seconds the call may take, from connecting to the
%                     last byte of the reply ([] or Inf: no limit)
%     ConnectTimeout  seconds each TCP connect may take
%     ArrayResults    'cell' (the default) or 'numeric', in any case:
%                     Arrays of numbers come back as numeric rows and
%                     matrices (see help ZRProxy)
%   Limits the options do not give are those given to CONNECTOR for H.
%
%   help ZRProxy lists how each MATLAB class travels and comes back.
%
%   Errors carry an identifier that try/catch can test (err.identifier):
%     zrbridge:usage            fewer than three arguments
%     zrbridge:invalidHandle    H is not a handle that CONNECTOR issued in
%                               this session, or one released since
%                               ("Object is NULL !"; a handle that is not
%                               a uint32 also prints "wrong pointertype!")
%     zrbridge:badArgument      a method name that is not text or holds a
%                               zero character, parameters that are not
%                               a cell array, options of the wrong kind
%     zrbridge:unsupportedType  a parameter of a class or form that cannot
%                               travel; the text names it and where it is
%                               ("Unknown parameter type: struct
%                               (parameter 2)")
%     zrbridge:remoteFault      the module answered with a fault; the
%                               message holds its fault string and detail,
%                               CONNECTOR('fault', H) gives them apart
%     zrbridge:connectionFailed the connection was refused or lost
%     zrbridge:badReply         a reply that cannot be decoded
%     zrbridge:timeout          Timeout or ConnectTimeout expired
%     zrbridge:interrupted      Ctrl-C while the call waited
%     zrbridge:failed           a failure of no known cause (out of
%                               memory, for one)
%     zrbridge:cancelled        a background call was cancelled
%     zrbridge:noResult         'fetch' of several calls, one of which gave
%                               a result without a MATLAB form
%
%   Calls in the background (ZRProxy.async and ZRFuture sit on these):
%     KEY = INVOKER('async', H, METHOD[, PARAMETERS][, OPTIONS]) converts
%       PARAMETERS at once (failing there as the call above would), starts
%       the call and returns its key, a 1x1 uint32, without waiting.
%       Without PARAMETERS (a struct in their place is OPTIONS) the method
%       is called without arguments.
%       OPTIONS may also hold Connections: how many connections to the
%       module H's background calls use at most (default 4); calls beyond
%       them wait in order. Timeout counts from here, queueing included.
%     TF = INVOKER('wait', KEYS[, SECONDS]) waits until every call in KEYS
%       has finished (true) or SECONDS have passed (false).
%     IDX = INVOKER('next', KEYS[, SECONDS[, SKIP]]) the position in KEYS
%       of a finished call that 'next' has not given out before and whose
%       SKIP (a logical per key) is false, waiting up to SECONDS; [] when
%       none finished in time, at once when none is left.
%     R = INVOKER('fetch', KEY) waits, then the result converted as above
%       (OPTIONS' ArrayResults of the 'async'), or the call's error with
%       the same identifier and text; may be asked again.
%     R = INVOKER('fetch', KEY1, KEY2, ...) (or a vector of keys) waits for
%       every call, then their results joined with vertcat in that order,
%       or the first failed call's error; ..., 'UniformOutput', false)
%       gives the results in an Nx1 cell array instead. A result without
%       a MATLAB form is zrbridge:noResult there.
%     S = INVOKER('state', KEY) 'queued', 'running' or 'finished'.
%     E = INVOKER('error', KEY) [] or a struct with identifier and message.
%     M = INVOKER('method', KEY) the method the call calls.
%     INVOKER('cancel', KEYS) ends unfinished calls (a running one's
%       connection is closed); their error is zrbridge:cancelled.
%     INVOKER('release', KEYS) forgets the calls, cancelling unfinished
%       ones; N = INVOKER('count') is the number of calls held.
%   Where KEYS or KEY stands, an array of ZRFuture objects may stand
%   instead: invoker reads their keys itself (ZRFuture passes itself so).
%   Ctrl-C ends a 'wait', 'next' or 'fetch' with zrbridge:interrupted and
%   leaves the calls running. Releasing the handle H cancels its
%   unfinished calls; finished ones keep their results. The module stays
%   loaded while it holds calls. An unknown KEY is zrbridge:invalidHandle
%   ("No such future").
%
%   Example (with the demo broker started as "zrdemobroker --port 4500"):
%     h = connector('Echo', '127.0.0.1', 4500);
%     r = invoker(h, 'echo', {1, 'text', int32(7)})
%     r = invoker(h, 'echo', {[1 2]}, struct('ArrayResults', 'numeric'))
%     k = invoker('async', h, 'delay', {500, 'late'});  % 500 ms
%     r = invoker('fetch', k)                           % 'late'
%     invoker('release', k);
%
%   See also CONNECTOR, ZRPROXY.

% SPDX-License-Identifier: GPL-2.0-or-later

% The module itself is invoker.mex (invoker.mexa64 for MATLAB) beside this
% file; this file holds its help text and its tests.

%!error id=zrbridge:usage invoker (uint32 (1))
%!error <Object is NULL> invoker (uint32 (0), 'echo', {})
%!error id=zrbridge:invalidHandle invoker (uint32 (0), 'echo', {})
