function zrt_broker_stop(broker)
  % Stops a broker that zrt_broker_start started and waits for it to end.

  % SPDX-License-Identifier: GPL-2.0-or-later
  if isempty(broker) || broker.pid <= 0
    return;
  end
  kill(broker.pid, SIG().TERM);
  deadline = time() + 5;
  while waitpid(broker.pid, WNOHANG()) ~= broker.pid
    if time() > deadline
      kill(broker.pid, SIG().KILL);
      waitpid(broker.pid);
      break;
    end
    pause(0.02);
  end
  if exist(broker.portFile, 'file')
    delete(broker.portFile);
  end
end
