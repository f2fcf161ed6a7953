function check_mfiles(files)
  % CHECK_MFILES  Fails when a shipped m-file uses what only Octave knows.
  %   check_mfiles(FILES) checks each file of the cell array FILES twice:
  %   Octave parses it with its Octave:language-extension warning turned
  %   into an error (operators such as !=, ++ and +=), and the code of each
  %   line, outside its strings and comments, is searched for the
  %   Octave-only forms that the parser lets pass without a warning.

  % SPDX-License-Identifier: GPL-2.0-or-later
  problems = {};
  for k = 1:numel(files)
    problems = [problems, parseProblems(files{k}), formProblems(files{k})]; %#ok<AGROW>
  end
  if ~isempty(problems)
    error('zrt:mfiles', '%s', strjoin(problems, char(10)));
  end
  fprintf('check_mfiles: %d files use only what MATLAB and Octave share\n', numel(files));
end

function problems = parseProblems(file)
  problems = {};
  state = warning('query', 'Octave:language-extension');
  warning('error', 'Octave:language-extension');
  try
    __parse_file__(file);
  catch err
    problems = {sprintf('%s: %s', file, err.message)};
  end
  warning(state.state, 'Octave:language-extension');
end

function problems = formProblems(file)
  % Functions and keywords that only Octave has; `s.rows` is a field.
  words = ['(?<![\w.])(rows|columns|printf|puts|fputs|fdisp|endfunction|endif|' ...
           'endwhile|endfor|endswitch|end_try_catch|unwind_protect|' ...
           'unwind_protect_cleanup|end_unwind_protect|endclassdef|endmethods|' ...
           'endproperties|endevents|endenumeration|endparfor)(?!\w)'];
  forms = {words, 'Octave-only function or keyword'; ...
           'fflush\s*\(\s*stdout\s*\)', 'fflush(stdout)'; ...
           '!', '! or !='; ...
           '\+\+|--', 'increment or decrement'; ...
           '(?<![<>=~])[-+*/^|&]=(?!=)', 'compound assignment'; ...
           '\*\*', '** power'};
  problems = {};
  lines = regexp(fileread(file), '\r?\n', 'split');
  inBlock = false;
  for n = 1:numel(lines)
    line = lines{n};
    trimmed = strtrim(line);
    if any(strcmp(trimmed, {'%{', '#{'}))
      inBlock = true;
    end
    if inBlock
      if trimmed(1) == '#'
        problems{end + 1} = sprintf('%s:%d: # comment', file, n); %#ok<AGROW>
      end
      inBlock = ~any(strcmp(trimmed, {'%}', '#}'}));
      continue;
    end
    [code, comment, doubleQuoted] = splitLine(line);
    if ~isempty(comment) && comment(1) == '#'
      problems{end + 1} = sprintf('%s:%d: # comment', file, n); %#ok<AGROW>
    end
    if any(cellfun(@(text) any(text == '\'), doubleQuoted))
      problems{end + 1} = sprintf('%s:%d: escape inside double quotes', file, n); %#ok<AGROW>
    end
    for f = 1:size(forms, 1)
      found = regexp(code, forms{f, 1}, 'match', 'once');
      if ~isempty(found)
        problems{end + 1} = sprintf('%s:%d: %s (%s)', file, n, forms{f, 2}, found); %#ok<AGROW>
      end
    end
  end
end

% The line with its strings and comment blanked out, the comment, and the
% contents of its double-quoted strings.
function [code, comment, doubleQuoted] = splitLine(line)
  code = line;
  comment = '';
  doubleQuoted = {};
  i = 1;
  while i <= numel(line)
    c = line(i);
    if c == '%' || c == '#' || strncmp(line(i:end), '...', 3)
      comment = line(i:end);
      code(i:end) = ' ';
      return;
    end
    if c == '"' || (c == '''' && ~isTranspose(line, i))
      last = closingQuote(line, i);
      if c == '"'
        doubleQuoted{end + 1} = line(i + 1:last - 1); %#ok<AGROW>
      end
      code(i:min(last, numel(line))) = ' ';
      i = last + 1;
    else
      i = i + 1;
    end
  end
end

% A quote right after a name, a number, a closing bracket, a dot or
% another transpose is the transpose operator.
function yes = isTranspose(line, i)
  yes = i > 1 && any(line(i - 1) == ['a':'z' 'A':'Z' '0':'9' '_)]}.''']);
end

% Index of the quote that ends the string opened at `first` (a doubled
% quote stands for itself); past the end when the line ends first.
function last = closingQuote(line, first)
  quote = line(first);
  last = first + 1;
  while last <= numel(line)
    if line(last) == quote
      if last < numel(line) && line(last + 1) == quote
        last = last + 2;
        continue;
      end
      return;
    end
    last = last + 1;
  end
end
