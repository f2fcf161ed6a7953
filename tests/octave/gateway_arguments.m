% connector and invoker: argument checks, handle checks and the texts the
% user sees for them.

% SPDX-License-Identifier: GPL-2.0-or-later
broker = zrt_broker_start();
unwind_protect
  port = broker.port;

  % connector: argument count and kinds.
  usage = 'Usage: proxy = ZRProxy(''moduleName'',''ip'',port)';
  badPort = 'The port must be a real number from 0 to 65535';
  cases = {
    {},                                usage
    {'Echo'},                          usage
    {'Echo', '127.0.0.1'},             usage
    {1, '127.0.0.1', port},            'The module name must be a char array'
    {{'Echo'}, '127.0.0.1', port},     'The module name must be a char array'
    {'Echo', 127, port},               'The host must be a char array'
    {'Echo', '127.0.0.1', '5000'},     badPort
    {'Echo', '127.0.0.1', NaN},        badPort
    {'Echo', '127.0.0.1', Inf},        badPort
    {'Echo', '127.0.0.1', []},         badPort
    {'Echo', '127.0.0.1', true},       badPort
    {'Echo', '127.0.0.1', -1},         badPort
    {'Echo', '127.0.0.1', 65536},      badPort
    {'Echo', '127.0.0.1', {port}},     badPort
    % a zero character would cut the name short on its way
    {['Echo' char(0) 'x'], '127.0.0.1', port}, 'The module name must not contain a zero character'
    {'Echo', ['127.0.0.1' char(0)], port},   'The host must not contain a zero character'
    % options follow the rules invoker follows
    {'Echo', '127.0.0.1', port, struct('ArrayResults', 'matrix')}, 'ArrayResults must be ''cell'' or ''numeric'''
  };
  for k = 1:rows(cases)
    args = cases{k, 1};
    zrt_expect_error(@() connector(args{:}), zrt_fail_message('connector', cases{k, 2}), ...
                     sprintf('connector case %d', k));
  end

  % Options in their normal form: the one set of rules that invoker,
  % connector and ZRProxy follow.
  zrt_check_equal(connector('options', struct('Timeout', Inf, 'ConnectTimeout', int8(2), ...
                                              'ArrayResults', 'NUMERIC', 'Other', 1)), ...
                  struct('Timeout', [], 'ConnectTimeout', 2, 'ArrayResults', 'numeric', 'History', 0), ...
                  'options in normal form');
  zrt_check_equal(connector('options', []), ...
                  struct('Timeout', [], 'ConnectTimeout', [], 'ArrayResults', 'cell', 'History', 0), ...
                  'no options in normal form');
  zrt_expect_error(@() connector('options', struct('History', 2.5)), zrt_fail_message('connector', ...
      'History must be a whole number of exchanges from 0 to 10000'), 'options with a bad History');
  zrt_expect_error(@() connector('options', struct('Timeout', -1)), zrt_fail_message('connector', ...
      'Timeout must be a positive number of seconds, or [] or Inf for no limit'), 'options with a bad Timeout');
  zrt_expect_error(@() connector('options', 'numeric'), ...
                   zrt_fail_message('connector', 'The options must be a struct'), 'options not a struct');

  % A module the broker does not know, with a name far longer than any
  % buffer: the broker's refusal names it whole.
  for name = {'Nope', repmat('LongModuleName', 1, 20)}
    zrt_expect_error(@() connector(name{1}, '127.0.0.1', port), zrt_fail_message('connector', ...
        sprintf(['\tZRNetwork::getModuleByName\n\tfailed to get module %s http://127.0.0.1:%d\n' ...
                 '\tthe broker answered with a fault: Unknown module'], name{1}, port)), ...
        ['unknown module ' name{1}(1:4)]);
  end

  % A fourth argument is ignored; a fractional port is truncated.
  h1 = connector('Echo', '127.0.0.1', port + 0.9, 'ignored');
  zrt_check_equal(class(h1), 'uint32', 'handle class');
  zrt_check_equal(size(h1), [1 1], 'handle size');
  assert(h1 ~= 0, 'the handle is 0');
  h2 = connector('Echo', '127.0.0.1', port);
  assert(h2 ~= h1, 'two connector calls gave the same handle');
  zrt_check_equal(invoker(h1, 'echo', {'one'}), {'one'}, 'call through the first handle');
  zrt_check_equal(invoker(h2, 'echo', {'two'}), {'two'}, 'call through the second handle');

  % invoker: argument count and kinds.
  usage = zrt_fail_message('invoker', 'Usage: proxy(methodname[, parameters])');
  zrt_expect_error(@() invoker(), usage, 'invoker without arguments');
  zrt_expect_error(@() invoker(h1), usage, 'invoker with a handle only');
  zrt_expect_error(@() invoker(h1, 'echo'), usage, 'invoker without parameters');
  zrt_expect_error(@() invoker(h1, 5, {1}), ...
                   zrt_fail_message('invoker', 'The method name must be a char array'), 'numeric method');
  zrt_expect_error(@() invoker(h1, {'echo'}, {1}), ...
                   zrt_fail_message('invoker', 'The method name must be a char array'), 'cell method');
  zrt_expect_error(@() invoker(h1, ['echo' char(0) 'zz'], {1}), ...
                   zrt_fail_message('invoker', 'The method name must not contain a zero character'), ...
                   'method name with a zero character');
  for params = {1, 'text', [1 2], struct()}
    zrt_expect_error(@() invoker(h1, 'echo', params{1}), ...
                     zrt_fail_message('invoker', 'The parameters must be a cell array'), ...
                     ['parameters of class ' class(params{1})]);
  end

  % Handles: anything but a uint32 is refused with a note on standard
  % error; a uint32 that no proxy has is refused silently.
  nullObject = zrt_fail_message('invoker', "Object is NULL !\n");
  for handle = {double(h1), int32(h1), uint64(h1), single(h1), 'abc', {h1}, true}
    out = zrt_expect_error(@() invoker(handle{1}, 'echo', {1}), nullObject, ...
                           ['handle of class ' class(handle{1})]);
    assert(strcmp(out, "wrong pointertype!\n"), 'wrong pointertype note: got "%s"', out);
  end
  for handle = {uint32(0), uint32([]), uint32(h2 + 1000), uint32(4294967295), uint32([0 h1])}
    out = zrt_expect_error(@() invoker(handle{1}, 'echo', {1}), nullObject, ...
                           sprintf('uint32 handle %s', mat2str(handle{1})));
    assert(isempty(out), 'a uint32 handle printed "%s"', out);
  end
  % Only the first element of a handle counts.
  zrt_check_equal(invoker(uint32([h1 0 7]), 'echo', {3}), {3}, 'handle with extra elements');

  % Handles stay valid when the MEX modules are cleared from memory: the
  % registry outlives them, and keys are never handed out twice.
  clear mex;
  clear functions;
  zrt_check_equal(invoker(h1, 'echo', {'after clear'}), {'after clear'}, 'handle after clear mex');
  h3 = connector('Echo', '127.0.0.1', port);
  assert(h3 > h2, 'a key was handed out again after clear mex');

  % Method names and text parameters reach the module whole.
  longMethod = repmat('m', 1, 45);
  zrt_expect_error(@() invoker(h1, longMethod, {}), zrt_fail_message('invoker', ...
      sprintf('\tEcho::SOAP error:Unknown method\n\tSOAP detail: Echo::%s\nmethods of Echo: echo, wrap, first, typeOf, types, sizeOf, delay', longMethod)), ...
      'long method name');
  % The help of each module names every form it takes and every
  % identifier it raises.
  helps = {
    'connector', {'Timeout', 'ConnectTimeout', 'CONNECTOR(''release'', H)', 'CONNECTOR(''count'')', ...
                  'CONNECTOR(''fault'')', 'CONNECTOR(''fault'', H)', 'zrbridge:usage', ...
                  'zrbridge:badArgument', 'zrbridge:invalidHandle', 'zrbridge:brokerUnreachable', ...
                  'zrbridge:unknownModule', 'zrbridge:lookupFailed', 'zrbridge:timeout', ...
                  'zrbridge:interrupted', 'zrbridge:failed'}
    'invoker',   {'Timeout', 'ConnectTimeout', 'ArrayResults', 'zrbridge:usage', ...
                  'zrbridge:invalidHandle', 'zrbridge:badArgument', 'zrbridge:unsupportedType', ...
                  'zrbridge:remoteFault', 'zrbridge:connectionFailed', 'zrbridge:badReply', ...
                  'zrbridge:timeout', 'zrbridge:interrupted', 'zrbridge:failed'}
  };
  for k = 1:rows(helps)
    text = evalc(['help ' helps{k, 1}]);
    for phrase = helps{k, 2}
      assert(~isempty(strfind(text, phrase{1})), 'help %s does not mention "%s"', helps{k, 1}, phrase{1});
    end
  end
  printf('gateway_arguments: all checks passed\n');
unwind_protect_cleanup
  zrt_broker_stop(broker);
end_unwind_protect
