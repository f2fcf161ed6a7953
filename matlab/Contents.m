% ZRBRIDGE  Call methods of modules of a remote module broker over SOAP.
%
%   zrbridge lets Octave and MATLAB call the methods of modules that a
%   module broker hosts. A proxy asks the broker where a module lives,
%   then calls its methods over SOAP 1.1 and HTTP (one keep-alive
%   connection per proxy), converting arrays to the broker's dynamic
%   values and back; bytes travel as DIME attachments.
%
%     [port, broker] = zrdemobroker();        % the bundled demo broker
%     p = ZRProxy('Echo', '127.0.0.1', port);  % look the module up
%     r = p('echo', {1, 'text', int32(7)})     % call one of its methods
%     clear p broker                           % close, stop the broker
%
%   Calling modules
%     ZRProxy          - a module of a remote broker, callable like a function
%     zrbinary         - bytes that travel as one Binary value
%     ZRFuture         - a call running in the background (p.async)
%     zrtrace          - append every exchange of the session to a file
%
%   Trying it out
%     zrdemo           - a guided tour against the demo broker
%     zrdemobroker     - start the bundled demo broker on a free port
%     ZRBrokerProcess  - a running demo broker, stopped when deleted
%
%   MEX modules (what ZRProxy calls)
%     connector        - look a module up at a broker, returning a handle
%     invoker          - call a method through such a handle
%
%   help ZRProxy gives the value mapping, the options and the error
%   identifiers; demo ZRProxy shows the main uses. Licence: GPL-2.0 or
%   later (the COPYING file).

% SPDX-License-Identifier: GPL-2.0-or-later

%!test
%! % The overview names every function that ships beside it.
%! folder = fileparts (which ('ZRProxy'));
%! overview = fullfile (folder, 'zrbridge.m');
%! if (exist (overview, 'file') != 2)
%!   overview = fullfile (folder, 'Contents.m');
%! endif
%! text = get_help_text_from_file (overview);
%! files = dir (fullfile (folder, '*.m'));
%! names = setdiff ([regexprep({files.name}, '\.m$', ''), {'connector', 'invoker'}], ...
%!                  {'Contents', 'zrbridge'});
%! for k = 1:numel (names)
%!   assert (! isempty (regexp (text, ['\n\s+' names{k} '\s+-'], 'once')), ...
%!           'the overview does not list %s', names{k});
%! endfor
