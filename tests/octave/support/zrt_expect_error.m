function output = zrt_expect_error(call, expected, label)
  % Runs call (a function handle) and checks that it fails with exactly the
  % message `expected`. Returns what it printed before failing, standard
  % output and standard error together.

  % SPDX-License-Identifier: GPL-2.0-or-later
  caught = [];
  output = evalc('try, call(); catch caught, end');
  if isempty(caught)
    error('zrt:check', '%s: expected the error "%s", but the call succeeded', ...
          label, undo_string_escapes(expected));
  end
  if ~strcmp(caught.message, expected)
    error('zrt:check', '%s: expected the error\n  "%s"\nbut got\n  "%s"', label, ...
          undo_string_escapes(expected), undo_string_escapes(caught.message));
  end
end
