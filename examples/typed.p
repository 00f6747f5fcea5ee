%------------------------------------------------------------------------------
% File     : typed.p
% Problem  : Everyone who lives in a city is somewhere (typed first-order)
% Status   : Theorem
%------------------------------------------------------------------------------
tff(person_type, type, person: $tType).
tff(city_type, type, city: $tType).
tff(home_type, type, home: person > city).
tff(lives_type, type, lives_in: (person * city) > $o).
tff(homes, axiom, ! [P: person] : lives_in(P, home(P))).
tff(somewhere, conjecture, ! [P: person] : ? [C: city] : lives_in(P, C)).
