%------------------------------------------------------------------------------
% File     : socrates.p
% Problem  : All men are mortal; Socrates is a man; so someone is mortal.
% Status   : Theorem
%------------------------------------------------------------------------------
fof(men_are_mortal, axiom, ! [X] : (man(X) => mortal(X))).
fof(socrates_is_a_man, axiom, man(socrates)).
fof(teacher, axiom, teacher(plato) = socrates).
fof(someone_mortal, conjecture, ? [Y] : (mortal(Y) & ? [Z] : teacher(Z) = Y)).
