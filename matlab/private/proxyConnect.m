function proxyConnect(proxy)
  % Looks the ZRProxy's module up at its broker and keeps the new handle.
  % A function of ZRProxy's private folder rather than a method: see the
  % class's hidden property state.

  % SPDX-License-Identifier: GPL-2.0-or-later
  proxy.state.handle = connector(proxy.moduleName, proxy.host, proxy.port, proxy.state.options);
end
