function proxyNoteFault(proxy)
  % Keeps the fault texts of the ZRProxy's last failed call for LastFault.

  % SPDX-License-Identifier: GPL-2.0-or-later
  try
    proxy.state.lastFault = connector('fault', proxy.state.handle);
  catch
    proxy.state.lastFault = struct('faultstring', '', 'detail', '');
  end
end
