function proxySetOption(proxy, name, value)
  % Sets one option of a ZRProxy in the options struct it gives invoker.
  % connector checks the struct and returns it in its normal form ([] for
  % no limit, ArrayResults in lower case), so that the class and the
  % gateways follow one set of rules; a bad value fails with
  % zrbridge:badArgument and changes nothing.

  % SPDX-License-Identifier: GPL-2.0-or-later
  options = proxy.state.options;
  options.(name) = value;
  proxy.state.options = connector('options', options);
end
