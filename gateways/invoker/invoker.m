%INVOKER  Call a method of a module through a handle from CONNECTOR.
%   R = INVOKER(H, METHOD, PARAMETERS) calls the method METHOD (text) of
%   the module behind the handle H with the cells of PARAMETERS as its
%   arguments, one argument per cell in column-major order, and returns
%   the result converted to a MATLAB array. PARAMETERS = {} calls the
%   method without arguments. A reply {1 or 0, X, ...} is unwrapped to X.
%   Most code uses ZRProxy: R = P(METHOD, PARAMETERS) does the same.
%
%   help ZRProxy lists how each MATLAB class travels and comes back.
%
%   Errors carry an identifier that try/catch can test (err.identifier):
%     zrbridge:usage            fewer than three arguments
%     zrbridge:invalidHandle    H is not a handle that CONNECTOR issued in
%                               this session ("Object is NULL !")
%     zrbridge:badArgument      a method name that is not text, parameters
%                               that are not a cell array
%     zrbridge:unsupportedType  a parameter of a class that cannot travel
%     zrbridge:remoteFault      the module answered with a fault; the
%                               message holds its fault string and detail
%     zrbridge:connectionFailed the connection was refused or lost
%     zrbridge:badReply         a reply that cannot be decoded
%
%   Example (with the demo broker started as "zrdemobroker --port 4500"):
%     h = connector('Echo', '127.0.0.1', 4500);
%     r = invoker(h, 'echo', {1, 'text', int32(7)})
%
%   See also CONNECTOR, ZRPROXY.

% The module itself is invoker.mex (invoker.mexa64 for MATLAB) beside this
% file; this file holds its help text and its tests.

%!error id=zrbridge:usage invoker (uint32 (1))
%!error <Object is NULL> invoker (uint32 (0), 'echo', {})
%!error id=zrbridge:invalidHandle invoker (uint32 (0), 'echo', {})
