1,"Raleigh","State capital"
2,"Fall line road",
3,"Cape Fear label","skipped"
4,  "Haw River" ,"river, with a comma"
5,"Square with ""hole""",sq
6,"Skipped rect",r
7
