function zrt_check_equal(actual, expected, label)
  % Fails unless actual equals expected in value, class and size, cell by
  % cell.

  % SPDX-License-Identifier: GPL-2.0-or-later
  if ~zrt_same(actual, expected)
    error('zrt:check', '%s: expected\n%s\nbut got\n%s', label, ...
          disp_text(expected), disp_text(actual));
  end
end

function same = zrt_same(a, b)
  same = strcmp(class(a), class(b)) && isequal(size(a), size(b));
  if ~same
    return;
  end
  if iscell(a)
    for k = 1:numel(a)
      if ~zrt_same(a{k}, b{k})
        same = false;
        return;
      end
    end
  else
    same = isequaln(a, b);  % NaN equals NaN here
  end
end

function text = disp_text(value)
  text = sprintf('  %s %s: %s', class(value), mat2str(size(value)), ...
                 strtrim(evalc('disp(value)')));
end
